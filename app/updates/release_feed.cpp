#include "updates/release_feed.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "json_fields.h"
#include "updates/build_info.h"

namespace lumory::updates {

namespace {

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

}  // namespace

bool isWebAddress(const std::string& text) {
    auto address = parseAddress(text);
    return address && (address->scheme == "https" || address->scheme == "http");
}

bool isEnabled(const SettingsStore& settings) {
    return settings.boolValue(kCheckKey).value_or(true);
}

// A build that names no version calls itself "0"; one without a feed checks nothing.
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
    auto version = stringField(value, "version");
    auto url = stringField(value, "url");
    if (!version || !url) return std::nullopt;
    Release release{*version, *url, std::nullopt};
    // An optional member may be null; one of another type makes the whole feed unreadable.
    if (const nlohmann::json* notes = jsonField(value, "notes"); notes && !notes->is_null()) {
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

}  // namespace lumory::updates
