#include "page/crash_recovery.h"

namespace lumory {

bool CrashRecovery::crashed(std::function<void()> reload) {
    ++crashes_;
    // A minute without a crash forgets the earlier ones.
    quiet_ = mainQueue_.schedule(kQuietPeriod, [this] { crashes_ = 0; });
    if (crashes_ >= kCrashLimit) {
        pendingReload_.reset();
        return false;
    }
    if (crashes_ == 1) {
        reload();
    } else {
        pendingReload_ = mainQueue_.schedule(kSecondReloadPause, std::move(reload));
    }
    return true;
}

void CrashRecovery::reset() {
    crashes_ = 0;
    quiet_.reset();
    pendingReload_.reset();
}

}  // namespace lumory
