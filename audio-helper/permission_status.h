#pragma once

#include <string>

#include "audio_source.h"

namespace lumory::audio {

// "granted" when the sound server takes our connection and has a default output whose monitor
// can be recorded, "denied" otherwise. Never prompts and never starts a server.
std::string permissionStatus(AudioSource& source);

}  // namespace lumory::audio
