// libFuzzer target: any input, read as the helper reads its standard input, gets exactly one
// reply line per non-blank line, each a JSON object, and never a crash.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "command_context.h"
#include "memory_event_store.h"
#include "request_reader.h"

namespace {

using namespace lumory::cal;

// Lines as the reader splits them (LF, or CR LF), counted when something is left after repair
// and trimming.
std::size_t nonBlankLines(std::string_view input) {
    std::size_t count = 0;
    while (!input.empty()) {
        std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        if (!trimSpaces(repairUtf8(line)).empty()) ++count;
        if (end == std::string_view::npos) break;
        input.remove_prefix(end + 1);
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    int fd = memfd_create("requests", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return 0;
    }

    std::size_t lines = 0;
    bool allObjects = true;
    {
        MemoryEventStore store;
        store.setStatus(EntityType::event, 3);
        store.setStatus(EntityType::reminder, 3);
        Output output([&](std::string_view line) {
            ++lines;
            if (line.empty() || line.back() != '\n' ||
                line.find('\n') != line.size() - 1 ||
                !nlohmann::json::parse(line, nullptr, false).is_object())
                allObjects = false;
        });
        CommandContext context(store, output);
        readRequests(context, fd);
        store.finishFetches();
        context.drain(std::chrono::seconds(5));
    }
    close(fd);

    const std::size_t expected = nonBlankLines(input);
    if (lines != expected || !allObjects) {
        std::fprintf(stderr, "%zu reply lines for %zu requests%s\n", lines, expected,
                     allObjects ? "" : ", not all of them one JSON object");
        std::abort();
    }
    return 0;
}
