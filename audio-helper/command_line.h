#pragma once

namespace lumory::audio {

enum class Command { status, capture, usage };

// Only the first argument counts, compared exactly; anything else asks for the usage text.
Command parseCommand(int argc, const char* const argv[]);

}  // namespace lumory::audio
