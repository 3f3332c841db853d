#pragma once

#include <string>

#include "audio_source.h"
#include "helper_output.h"

namespace lumory::audio {

// How a capture ended: the exit status and the line for standard error, without its line feed
// (empty: end quietly).
struct CaptureEnd {
    int exitStatus = 1;
    std::string message;
};

// Streams the default output's monitor to `out` as 24 kHz mono 16-bit PCM until the source
// fails, the reader goes away, or the process is ended from outside.
CaptureEnd capture(AudioSource& source, Output& out);

}  // namespace lumory::audio
