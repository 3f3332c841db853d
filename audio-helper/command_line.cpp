#include "command_line.h"

#include <string_view>

namespace lumory::audio {

Command parseCommand(int argc, const char* const argv[]) {
    if (argc < 2 || argv[1] == nullptr) return Command::usage;
    std::string_view first = argv[1];
    if (first == "status") return Command::status;
    if (first == "capture") return Command::capture;
    return Command::usage;
}

}  // namespace lumory::audio
