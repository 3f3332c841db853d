#include <unistd.h>

#include <csignal>

#include "audio_messages.h"
#include "command_dispatch.h"
#include "command_line.h"
#include "helper_output.h"
#include "helper_role.h"
#include "pulse/pulse_audio_source.h"

using namespace lumory::audio;

int main(int argc, char* argv[]) {
    const bool hostedByDesktop = lumory::helper::hostedByDesktopEnvironment();
    if (auto waitStatus = lumory::helper::relaunchDisclaimedAndWait(disclaimFlag, hostedByDesktop,
                                                                    argc, argv)) {
        return lumory::helper::exitCodeSuccessOrFailure(*waitStatus);
    }

    // A reader that closes its end must show up as EPIPE, so the capture can end quietly.
    std::signal(SIGPIPE, SIG_IGN);

    Output out(STDOUT_FILENO);
    Output err(STDERR_FILENO);
    PulseAudioSource source;
    return runCommand(parseCommand(argc, argv), source, out, err);
}
