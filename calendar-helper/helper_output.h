#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumory::cal {

// The request's correlation value: present exactly when the request had an "id" key.
using RequestId = std::optional<nlohmann::json>;

// Standard output of the helper: one compact JSON object per line, whole lines only.
class Output {
public:
    // Receives the text of lines while the output lock is held: whole, or a long line in
    // several pieces in a row; every line ends with its line feed.
    using LineWriter = std::function<void(std::string_view text)>;
    // Hands one piece of a streamed line to the output.
    using Piece = std::function<void(std::string_view piece)>;

    explicit Output(LineWriter writer);

    // Writes straight to the descriptor, so every line is flushed when the call returns. A
    // closed or failing descriptor drops the line; it never ends the process.
    static LineWriter descriptorWriter(int fd);

    // From now on lines wait in memory, in order, until open(); the peer reads the line given
    // to open() first, whatever other threads wrote meanwhile.
    void holdUntilOpened();
    void open(const nlohmann::json& firstLine);

    void emit(const nlohmann::json& object);
    // Writes one object given as compact JSON text already (a reply too large to build as a
    // json tree first); the caller answers for its form.
    void emitText(std::string text);
    // Writes one line that `produce` hands over piece by piece (compact JSON text, no line
    // feed), so that a reply of any length is never held whole. Other lines wait meanwhile.
    void emitStreamed(const std::function<void(const Piece& write)>& produce);
    void reply(const RequestId& id, nlohmann::json payload);
    void fail(const RequestId& id, std::string_view message);

private:
    void write(std::string line);  // outputLock held

    std::mutex outputLock;
    LineWriter writer;
    bool holding = false;
    std::vector<std::string> held;
};

}  // namespace lumory::cal
