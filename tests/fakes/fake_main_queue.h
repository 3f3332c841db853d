#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/main_queue.h"

namespace lumory::fakes {

// A main queue on a clock that only moves when the test says so.
class FakeMainQueue : public MainQueue {
public:
    void post(std::function<void()> work) override { add(now_, std::move(work)); }

    std::unique_ptr<WorkItem> schedule(std::chrono::milliseconds delay,
                                       std::function<void()> work) override {
        return std::make_unique<Item>(add(now_ + delay, std::move(work)));
    }

    // Runs everything due by now, including work that the running work posts.
    void runPending() { advance(std::chrono::milliseconds(0)); }

    void advance(std::chrono::milliseconds by) {
        auto until = now_ + by;
        for (;;) {
            auto next = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
                return a->due != b->due ? a->due < b->due : a->order < b->order;
            });
            if (next == entries_.end() || (*next)->due > until) break;
            auto entry = *next;
            entries_.erase(next);
            now_ = std::max(now_, entry->due);
            if (!entry->cancelled) entry->work();
        }
        now_ = until;
    }

    std::chrono::milliseconds now() const { return now_; }
    size_t pendingCount() const {
        return std::count_if(entries_.begin(), entries_.end(),
                             [](auto& entry) { return !entry->cancelled; });
    }

private:
    struct Entry {
        std::chrono::milliseconds due;
        std::uint64_t order;
        std::function<void()> work;
        bool cancelled = false;
    };
    struct Item : WorkItem {
        explicit Item(std::shared_ptr<Entry> entry) : entry(std::move(entry)) {}
        ~Item() override { cancel(); }
        void cancel() override { entry->cancelled = true; }
        std::shared_ptr<Entry> entry;
    };

    std::shared_ptr<Entry> add(std::chrono::milliseconds due, std::function<void()> work) {
        auto entry = std::make_shared<Entry>(Entry{due, nextOrder_++, std::move(work)});
        entries_.push_back(entry);
        return entry;
    }

    std::chrono::milliseconds now_{0};
    std::uint64_t nextOrder_ = 0;
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace lumory::fakes
