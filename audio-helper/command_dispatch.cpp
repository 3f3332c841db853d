#include "command_dispatch.h"

#include <string>

#include "audio_messages.h"
#include "capture.h"
#include "permission_status.h"

namespace lumory::audio {

int runCommand(Command command, AudioSource& source, Output& out, Output& err) {
    switch (command) {
    case Command::status:
        // Joined by hand so the line never varies in spacing or key order.
        emit(out, std::string("{\"status\":\"") + permissionStatus(source) + "\"}");
        return 0;
    case Command::capture: {
        CaptureEnd end = capture(source, out);
        if (end.message.empty()) return end.exitStatus;
        return fail(err, end.message);
    }
    case Command::usage:
        break;
    }
    return fail(err, kUsageText);
}

}  // namespace lumory::audio
