#include "permission_status.h"

#include "audio_messages.h"

namespace lumory::audio {

std::string permissionStatus(AudioSource& source) {
    if (std::optional<std::string> connectError = source.connect()) return kStatusDenied;
    return source.defaultMonitor() ? kStatusGranted : kStatusDenied;
}

}  // namespace lumory::audio
