#include "updates/update_checker.h"

#include <cmath>

namespace lumory::updates {

namespace {

constexpr double kMinimumInterval = 86400;
constexpr std::chrono::seconds kRequestTimeout{15};
// A feed is a few hundred bytes; anything near this is not one.
constexpr size_t kLongestFeed = 64 * 1024;

constexpr char kDownloadButton[] = "Download";
constexpr char kLaterButton[] = "Later";
constexpr char kSkipButton[] = "Skip This Version";
enum Button { kDownload = 0, kLater = 1, kSkip = 2 };

// The time of the last check that got a release; a damaged value, or one in the future (a clock
// that was once wrong), must not hold the check off, possibly for years.
double lastCheckTime(const SettingsStore& settings, double now) {
    double last = settings.doubleValue(kLastCheckKey).value_or(0);
    if (!std::isfinite(last) || last > now) return 0;
    return last;
}

void openDownload(Desktop& desktop, const Release& release) {
    if (release.notes && isWebAddress(*release.notes)) {
        desktop.openUri(*release.notes);
    } else if (isWebAddress(release.url)) {
        desktop.openUri(release.url);
    }
}

}  // namespace

void UpdateChecker::checkInBackground() {
    checkInBackground(feedURL(platform_.system), currentVersion());
}

void UpdateChecker::checkInBackground(const std::string& feed, const std::string& current) {
    if (feed.empty()) return;
    if (!isEnabled(platform_.settings)) return;
    double now = unixSeconds(platform_.clock.now());
    if (!(now - lastCheckTime(platform_.settings, now) > kMinimumInterval)) return;

    HttpRequest request;
    request.url = feed;
    request.timeout = kRequestTimeout;
    request.ignoreLocalCache = true;
    // A redirect could lead anywhere, past the rule that the feed is HTTPS or this machine.
    request.followRedirects = false;
    request.maxBodyBytes = kLongestFeed;
    platform_.http.send(request, [weak = lifetime_.weak(), current](HttpResponse response) {
        if (auto* self = weak.get()) self->received(response, current);
    });
}

// Only a successful answer counts: an error page that happens to hold a newer version is not a
// release.
void UpdateChecker::received(const HttpResponse& response, const std::string& current) {
    if (!response.status || *response.status < 200 || *response.status > 299) return;
    if (!response.body) return;
    std::optional<Release> release = decodeRelease(*response.body);
    if (!release) return;
    platform_.settings.setDouble(kLastCheckKey, unixSeconds(platform_.clock.now()));
    if (!isNewer(release->version, current)) return;
    auto skipped = platform_.settings.stringValue(kSkippedKey);
    if (skipped && *skipped == release->version) return;
    platform_.mainQueue.post([weak = lifetime_.weak(), release = std::move(*release), current] {
        if (auto* self = weak.get()) self->present(release, current);
    });
}

void UpdateChecker::present(const Release& release, const std::string& current) {
    MessageDialogSpec spec;
    spec.text = "Lumory " + release.version + " is available";
    spec.secondaryText = "You have " + current + ".";
    spec.buttons = {kDownloadButton, kLaterButton, kSkipButton};
    platform_.dialogs.showMessageDialog(
        spec, [weak = lifetime_.weak(), release](DialogResponse response) {
            auto* self = weak.get();
            if (!self) return;
            switch (response.button) {
                case kDownload:
                    openDownload(self->platform_.desktop, release);
                    break;
                case kSkip:
                    self->platform_.settings.setString(kSkippedKey, release.version);
                    break;
                default:  // Later, or the dialog closed without an answer: ask again another day.
                    break;
            }
        });
}

}  // namespace lumory::updates
