#include "page/navigation_policy.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace lumory {

namespace {

constexpr std::array<std::string_view, 3> kInViewSchemes = {"about", "blob", "data"};
constexpr std::array<std::string_view, 3> kOutsideSchemes = {"http", "https", "mailto"};

struct Origin {
    std::optional<std::string> scheme;
    std::optional<std::string> host;
    std::optional<int> port;
};

std::optional<std::string> present(const char* part) {
    if (part == nullptr) return std::nullopt;
    return std::string(part);
}

// The scheme exactly as written (GUri's own parts lower-case it); nothing when absent.
std::optional<std::string> writtenScheme(const std::string& url) {
    g_autofree char* scheme = g_uri_parse_scheme(url.c_str());
    return present(scheme);
}

// The parts as written, without normalising case or default ports. Relative references parse
// too: their scheme is absent.
std::optional<Origin> originOf(const std::string& url) {
    if (url.find('\0') != std::string::npos) return std::nullopt;
    g_autofree char* host = nullptr;
    gint port = -1;
    if (!g_uri_split(url.c_str(), G_URI_FLAGS_NONE, nullptr, nullptr, &host, &port, nullptr,
                     nullptr, nullptr, nullptr)) {
        return std::nullopt;
    }
    Origin origin{writtenScheme(url), present(host), std::nullopt};
    if (port != -1) origin.port = port;
    return origin;
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

template <typename Set>
bool contains(const Set& set, std::string_view value) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

}  // namespace

bool isInternal(const std::string& url, const std::optional<std::string>& serverURL) {
    if (!serverURL || serverURL->empty()) return false;
    auto candidate = originOf(url);
    auto server = originOf(*serverURL);
    if (!candidate || !server) return false;
    if (candidate->scheme != server->scheme) return false;
    if (candidate->host != server->host) return false;
    return candidate->port == server->port;
}

bool opensInView(const std::string& url) {
    return contains(kInViewSchemes, writtenScheme(url).value_or(""));
}

bool opensOutside(const std::string& url) {
    return contains(kOutsideSchemes, lowerCase(writtenScheme(url).value_or("")));
}

}  // namespace lumory
