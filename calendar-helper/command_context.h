#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>

#include <nlohmann/json.hpp>

#include "event_store.h"
#include "helper_output.h"

namespace lumory::cal {

// The helper's process-wide values as every command sees them. Lives as long as the process
// (tests: as long as any access request may still complete).
class CommandContext {
public:
    CommandContext(EventStore& store, Output& output) : store(store), output(output) {}

    EventStore& store;

    void emit(const nlohmann::json& object) { output.emit(object); }
    void emitText(std::string text) { output.emitText(std::move(text)); }
    void emitStreamed(const std::function<void(const Output::Piece& write)>& produce) {
        output.emitStreamed(produce);
    }
    void reply(const RequestId& id, nlohmann::json payload) { output.reply(id, std::move(payload)); }
    void fail(const RequestId& id, std::string_view message) { output.fail(id, message); }

    // Requests answered later, off the reader thread (access requests, reminder fetches), whose
    // reply is not out yet; the drain waits for them. End each after its reply was written.
    void beginDeferredReply();
    void endDeferredReply();
    int outstandingReplies();

    // Waits until no deferred reply is outstanding, or at most `limit`.
    void drain(std::chrono::steady_clock::duration limit);

private:
    Output& output;
    // `pending` guards `pendingCount` and wakes the drain.
    struct {
        std::mutex lock;
        std::condition_variable condition;
    } pending;
    int pendingCount = 0;
};

}  // namespace lumory::cal
