#pragma once

// Collects the helper's output lines in memory, parsed, for the frame and access tests.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "helper_output.h"

namespace lumory::cal {

class OutputCapture {
public:
    OutputCapture()
        : output([this](std::string_view text) {
              // A long line may come in pieces; it counts once whole.
              partial.append(text);
              if (partial.empty() || partial.back() != '\n') return;
              std::string line = std::move(partial);
              partial.clear();
              if (onLine) onLine(line);
              std::lock_guard guard(lock);
              lines.push_back(std::move(line));
              added.notify_all();
          }) {}

    Output output;
    // Runs while the line is being written (output lock held).
    std::function<void(std::string_view)> onLine;

    std::vector<std::string> rawLines() {
        std::lock_guard guard(lock);
        return lines;
    }
    std::vector<nlohmann::json> replies() {
        std::vector<nlohmann::json> parsed;
        for (const std::string& line : rawLines()) parsed.push_back(nlohmann::json::parse(line));
        return parsed;
    }
    bool waitForLines(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock guard(lock);
        return added.wait_for(guard, limit, [&] { return lines.size() >= count; });
    }
    void clear() {
        std::lock_guard guard(lock);
        lines.clear();
    }

private:
    std::mutex lock;
    std::condition_variable added;
    std::vector<std::string> lines;
    std::string partial;  // written under the output's lock
};

}  // namespace lumory::cal
