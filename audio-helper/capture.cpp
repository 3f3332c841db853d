#include "capture.h"

#include "audio_messages.h"
#include "capture_session.h"

namespace lumory::audio {

CaptureEnd capture(AudioSource& source, Output& out) {
    if (std::optional<std::string> connectError = source.connect()) {
        return {1, kPermissionRefusedMessage};
    }
    std::optional<std::string> monitor = source.defaultMonitor();
    if (!monitor) return {1, kNoDisplayMessage};

    CaptureSession session(source, out, {sampleRate, 1, kFragmentMilliseconds});
    if (auto error = session.start(*monitor)) {
        return {1, kCouldNotStartPrefix + *error};
    }
    source.run(session);
    if (auto end = session.end()) return *end;
    return {1, std::string(kCaptureStoppedPrefix) + "the sound server's event loop ended"};
}

}  // namespace lumory::audio
