#pragma once

#include <functional>
#include <memory>

#include "platform/main_queue.h"

namespace lumory {

// How the shell answers a web process that ended under one of its views: the first crash
// reloads at once, the next after a pause, and after kCrashLimit crashes with no quiet minute
// between them it gives up, so a page that kills its web process cannot keep the machine busy.
class CrashRecovery {
public:
    static constexpr int kCrashLimit = 3;
    static constexpr std::chrono::seconds kQuietPeriod{60};
    static constexpr std::chrono::seconds kSecondReloadPause{2};

    explicit CrashRecovery(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

    // Reloads through `reload` (now or after a pause); false when it gives up instead.
    bool crashed(std::function<void()> reload);
    // A fresh start: the user asked for the page again.
    void reset();

private:
    MainQueue& mainQueue_;
    int crashes_ = 0;
    std::unique_ptr<WorkItem> quiet_;
    std::unique_ptr<WorkItem> pendingReload_;
};

}  // namespace lumory
