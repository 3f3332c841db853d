#include "helper_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace lumory::cal {

Output::Output(LineWriter writer) : writer(std::move(writer)) {}

Output::LineWriter Output::descriptorWriter(int fd) {
    return [fd](std::string_view line) {
        while (!line.empty()) {
            ssize_t written = ::write(fd, line.data(), line.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                return;
            }
            line.remove_prefix(static_cast<size_t>(written));
        }
    };
}

namespace {
std::string compactLine(const nlohmann::json& object) {
    // Text from the platform is not always valid UTF-8; replacing the bad bytes keeps the reply
    // instead of leaving its request unanswered.
    std::string text = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.push_back('\n');
    return text;
}
}  // namespace

void Output::holdUntilOpened() {
    std::lock_guard lock(outputLock);
    holding = true;
}

void Output::open(const nlohmann::json& firstLine) {
    std::string text;
    try {
        text = compactLine(firstLine);
    } catch (const std::exception&) {
    }
    std::lock_guard lock(outputLock);
    holding = false;
    if (!text.empty()) writer(text);
    for (const std::string& line : held) writer(line);
    held.clear();
    held.shrink_to_fit();
}

void Output::write(std::string line) {
    if (holding)
        held.push_back(std::move(line));
    else
        writer(line);
}

void Output::emit(const nlohmann::json& object) {
    std::string text;
    try {
        text = compactLine(object);
    } catch (const std::exception&) {
        return;
    }
    std::lock_guard lock(outputLock);
    write(std::move(text));
}

void Output::emitText(std::string text) {
    text.push_back('\n');
    std::lock_guard lock(outputLock);
    write(std::move(text));
}

void Output::emitStreamed(const std::function<void(const Piece& write)>& produce) {
    constexpr std::size_t kPieceBytes = std::size_t{64} << 10;
    std::lock_guard lock(outputLock);
    std::string buffer;
    std::string* heldLine = nullptr;
    if (holding) heldLine = &held.emplace_back();
    auto flush = [&] {
        if (heldLine)
            heldLine->append(buffer);
        else
            writer(buffer);
        buffer.clear();
    };
    produce([&](std::string_view piece) {
        buffer.append(piece);
        if (buffer.size() >= kPieceBytes) flush();
    });
    buffer.push_back('\n');
    flush();
}

void Output::reply(const RequestId& id, nlohmann::json payload) {
    if (!payload.is_object()) payload = nlohmann::json::object();
    if (id) payload["id"] = *id;
    emit(payload);
}

void Output::fail(const RequestId& id, std::string_view message) {
    reply(id, nlohmann::json{{"error", std::string(message)}});
}

}  // namespace lumory::cal
