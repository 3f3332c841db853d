#include "command_context.h"

namespace lumory::cal {

void CommandContext::beginDeferredReply() {
    std::lock_guard lock(pending.lock);
    ++pendingCount;
}

void CommandContext::endDeferredReply() {
    std::lock_guard lock(pending.lock);
    --pendingCount;
    pending.condition.notify_all();
}

int CommandContext::outstandingReplies() {
    std::lock_guard lock(pending.lock);
    return pendingCount;
}

void CommandContext::drain(std::chrono::steady_clock::duration limit) {
    std::unique_lock lock(pending.lock);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pendingCount > 0) {
        if (pending.condition.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
}

}  // namespace lumory::cal
