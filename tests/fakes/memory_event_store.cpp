#include "memory_event_store.h"

namespace lumory::cal {

namespace {
std::size_t indexOf(EntityType type) { return type == EntityType::event ? 0 : 1; }
}  // namespace

void MemoryEventStore::setStatus(EntityType type, AuthorizationStatus status) {
    std::lock_guard guard(lock);
    statuses[indexOf(type)] = status;
}

void MemoryEventStore::setAccessAnswer(AccessAnswer answer) {
    std::lock_guard guard(lock);
    accessAnswer = std::move(answer);
}

void MemoryEventStore::holdAccessRequests(bool hold) {
    std::lock_guard guard(lock);
    holding = hold;
}

std::size_t MemoryEventStore::heldAccessRequests() {
    std::lock_guard guard(lock);
    return held.size();
}

bool MemoryEventStore::waitForHeldAccessRequests(std::size_t count,
                                                 std::chrono::milliseconds limit) {
    std::unique_lock guard(lock);
    return heldChanged.wait_for(guard, limit, [&] { return held.size() >= count; });
}

void MemoryEventStore::releaseAccessRequests() {
    std::deque<HeldRequest> releasing;
    {
        std::lock_guard guard(lock);
        releasing.swap(held);
    }
    for (const HeldRequest& request : releasing) answer(request.type, request.completion);
}

int MemoryEventStore::resetCount() {
    std::lock_guard guard(lock);
    return resets;
}

int MemoryEventStore::accessRequestCount() {
    std::lock_guard guard(lock);
    return accessRequests;
}

void MemoryEventStore::simulateChange() {
    std::function<void()> handler;
    {
        std::lock_guard guard(lock);
        handler = changeHandler;
    }
    if (handler) handler();
}

AuthorizationStatus MemoryEventStore::authorizationStatus(EntityType type) {
    std::lock_guard guard(lock);
    return statuses[indexOf(type)];
}

void MemoryEventStore::requestFullAccess(EntityType type, AccessCompletion completion) {
    {
        std::lock_guard guard(lock);
        ++accessRequests;
        if (holding) {
            held.push_back({type, std::move(completion)});
            heldChanged.notify_all();
            return;
        }
    }
    answer(type, completion);
}

void MemoryEventStore::answer(EntityType type, const AccessCompletion& completion) {
    AccessAnswer given;
    {
        std::lock_guard guard(lock);
        given = accessAnswer;
        if (!given.error && given.statusAfter) statuses[indexOf(type)] = *given.statusAfter;
    }
    completion(given.granted, given.error);
}

void MemoryEventStore::reset() {
    std::lock_guard guard(lock);
    ++resets;
}

void MemoryEventStore::setChangeHandler(std::function<void()> handler) {
    std::lock_guard guard(lock);
    changeHandler = std::move(handler);
}

}  // namespace lumory::cal
