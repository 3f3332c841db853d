#include "updates.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

// Both come from the build; a build that names neither checks nothing and calls itself "0".
#ifndef LUMORY_VERSION
#define LUMORY_VERSION ""
#endif
#ifndef LUMORY_UPDATE_FEED
#define LUMORY_UPDATE_FEED ""
#endif

namespace lumory::Updates {

namespace {

constexpr std::string_view kBuildVersion = LUMORY_VERSION;
constexpr std::string_view kBuildFeed = LUMORY_UPDATE_FEED;

constexpr double kMinimumInterval = 86400;
constexpr std::chrono::seconds kRequestTimeout{15};

constexpr char kDownloadButton[] = "Download";
constexpr char kLaterButton[] = "Later";
constexpr char kSkipButton[] = "Skip This Version";
enum Button { kDownload = 0, kLater = 1, kSkip = 2 };

// Whole decimal numbers with an optional sign; anything else (3-beta, rc1, too large) is 0.
std::int64_t componentValue(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) return 0;
    return value;
}

std::vector<std::int64_t> components(std::string_view version) {
    std::vector<std::int64_t> values;
    while (!version.empty()) {
        size_t dot = version.find('.');
        std::string_view part = version.substr(0, dot);
        if (!part.empty()) values.push_back(componentValue(part));
        if (dot == std::string_view::npos) break;
        version.remove_prefix(dot + 1);
    }
    return values;
}

struct ParsedAddress {
    std::string scheme;
    std::string host;
};

// An absolute address that GUri accepts, with a host. A NUL inside would make the text checked
// here differ from the one used.
std::optional<ParsedAddress> parseAddress(const std::string& text) {
    if (text.find('\0') != std::string::npos) return std::nullopt;
    g_autoptr(GUri) uri = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (uri == nullptr) return std::nullopt;
    const char* host = g_uri_get_host(uri);
    if (host == nullptr || *host == '\0') return std::nullopt;
    g_autofree char* scheme = g_ascii_strdown(g_uri_get_scheme(uri), -1);
    return ParsedAddress{scheme, host};
}

// Only web addresses are handed to the desktop: the feed must not be able to start whatever
// handler another scheme (file:, a custom one) would run.
bool isWebAddress(const std::string& text) {
    auto address = parseAddress(text);
    return address && (address->scheme == "https" || address->scheme == "http");
}

bool isLoopbackHost(const std::string& host) {
    return host == "127.0.0.1" || host == "::1" || host == "localhost";
}

// The feed is only ever asked over HTTPS; plain HTTP is allowed to this machine alone, so a
// test feed needs no certificate.
bool isFeedAddress(const std::string& text) {
    auto address = parseAddress(text);
    if (!address) return false;
    return address->scheme == "https" ||
           (address->scheme == "http" && isLoopbackHost(address->host));
}

// The time of the last check that got a release; a damaged value, or one in the future (a clock
// that was once wrong), must not hold the check off, possibly for years.
double lastCheckTime(const DefaultsStore& defaults, double now) {
    double last = defaults.doubleValue(kLastCheckKey).value_or(0);
    if (!std::isfinite(last) || last > now) return 0;
    return last;
}

void openDownload(Desktop& desktop, const Release& release) {
    if (release.notes && isWebAddress(*release.notes)) {
        desktop.openURL(*release.notes);
    } else if (isWebAddress(release.url)) {
        desktop.openURL(release.url);
    }
}

}  // namespace

bool isEnabled(const DefaultsStore& defaults) {
    return defaults.boolValue(kCheckKey).value_or(true);
}

std::string currentVersion() {
    return kBuildVersion.empty() ? "0" : std::string(kBuildVersion);
}

bool isNewer(std::string_view candidate, std::string_view current) {
    std::vector<std::int64_t> a = components(candidate);
    std::vector<std::int64_t> b = components(current);
    for (size_t index = 0; index < std::max(a.size(), b.size()); ++index) {
        std::int64_t left = index < a.size() ? a[index] : 0;
        std::int64_t right = index < b.size() ? b[index] : 0;
        if (left != right) return left > right;
    }
    return false;
}

std::optional<Release> decodeRelease(std::string_view body) {
    auto value = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || !value.is_object()) return std::nullopt;
    auto version = value.find("version");
    auto url = value.find("url");
    if (version == value.end() || !version->is_string()) return std::nullopt;
    if (url == value.end() || !url->is_string()) return std::nullopt;
    Release release{version->get<std::string>(), url->get<std::string>(), std::nullopt};
    // An optional member may be null; one of another type makes the whole feed unreadable.
    auto notes = value.find("notes");
    if (notes != value.end() && !notes->is_null()) {
        if (!notes->is_string()) return std::nullopt;
        release.notes = notes->get<std::string>();
    }
    return release;
}

std::string feedURL(const HostSystem& system) {
    std::string feed(kBuildFeed);
    if (auto override = system.environmentValue(kFeedOverrideVariable);
        override && !override->empty()) {
        feed = *override;
    }
    return isFeedAddress(feed) ? feed : std::string();
}

void checkInBackground(const AppPlatform& platform) {
    checkInBackground(platform, feedURL(platform.system), currentVersion());
}

void checkInBackground(const AppPlatform& platform, const std::string& feed,
                       const std::string& current) {
    if (feed.empty()) return;
    if (!isEnabled(platform.defaults)) return;
    double now = secondsSince1970(platform.clock.now());
    if (!(now - lastCheckTime(platform.defaults, now) > kMinimumInterval)) return;

    HttpRequest request;
    request.url = feed;
    request.timeout = kRequestTimeout;
    request.ignoreLocalCache = true;
    // The status is not looked at: whatever body decodes as a release is one.
    platform.http.send(request, [platform, current](HttpResponse response) {
        if (!response.body) return;
        std::optional<Release> release = decodeRelease(*response.body);
        if (!release) return;
        platform.defaults.setDouble(kLastCheckKey, secondsSince1970(platform.clock.now()));
        if (!isNewer(release->version, current)) return;
        auto skipped = platform.defaults.stringValue(kSkippedKey);
        if (skipped && *skipped == release->version) return;
        platform.mainQueue.post([platform, release = std::move(*release), current] {
            present(platform, release, current);
        });
    });
}

void present(const AppPlatform& platform, const Release& release, const std::string& current) {
    AlertSpec spec;
    spec.messageText = "Lumory " + release.version + " is available";
    spec.informativeText = "You have " + current + ".";
    spec.buttons = {kDownloadButton, kLaterButton, kSkipButton};
    platform.alerts.beginSheet(spec, [platform, release](AlertResponse response) {
        switch (response.button) {
            case kDownload:
                openDownload(platform.desktop, release);
                break;
            case kSkip:
                platform.defaults.setString(kSkippedKey, release.version);
                break;
            default:  // Later, or the dialog closed without an answer: ask again another day.
                break;
        }
    });
}

}  // namespace lumory::Updates
