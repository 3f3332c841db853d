#pragma once

#include "audio_source.h"
#include "command_line.h"
#include "helper_output.h"

namespace lumory::audio {

// Carries out one command once the process knows it serves it itself; returns the exit status.
int runCommand(Command command, AudioSource& source, Output& out, Output& err);

}  // namespace lumory::audio
