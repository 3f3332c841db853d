#include <glib.h>

#include <array>
#include <cctype>

#include "app_delegate.h"

namespace lumory {

namespace {

constexpr std::array<std::string_view, 3> kInViewSchemes = {"about", "blob", "data"};
constexpr std::array<std::string_view, 3> kOutsideSchemes = {"http", "https", "mailto"};
constexpr std::string_view kPanelTitle = "Lumory";
constexpr std::string_view kOkButton = "OK";
constexpr std::string_view kCancelButton = "Cancel";
constexpr std::chrono::seconds kNewWindowLoadTimeout{60};

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

// The scheme exactly as written; empty when the address has none.
std::string schemeOf(const std::string& url) {
    return writtenScheme(url).value_or("");
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

template <typename Set>
bool contains(const Set& set, std::string_view value) {
    for (std::string_view member : set) {
        if (member == value) return true;
    }
    return false;
}

}  // namespace

bool AppDelegate::isInternal(const std::string& url) const {
    if (!serverURL || serverURL->empty()) return false;
    auto candidate = originOf(url);
    auto server = originOf(*serverURL);
    if (!candidate || !server) return false;
    if (candidate->scheme != server->scheme) return false;
    if (candidate->host != server->host) return false;
    return candidate->port == server->port;
}

void AppDelegate::openOutside(const std::string& url) {
    if (!contains(kOutsideSchemes, lowerCase(schemeOf(url)))) return;
    // A handler the desktop does not have is not the user's concern here.
    platform_.desktop.openURL(url);
}

NavigationPolicy AppDelegate::decidePolicyForNavigation(WebView&, const std::string& url) {
    if (url.empty()) return NavigationPolicy::Allow;
    if (isInternal(url)) return NavigationPolicy::Allow;
    if (contains(kInViewSchemes, schemeOf(url))) return NavigationPolicy::Allow;
    openOutside(url);
    return NavigationPolicy::Cancel;
}

void AppDelegate::createWebViewWith(WebView& sender, const std::string& url) {
    if (url.empty()) return;
    if (isInternal(url)) {
        sender.loadRequest(url, kNewWindowLoadTimeout, CachePolicy::UseProtocolDefault);
        return;
    }
    openOutside(url);
}

void AppDelegate::runJavaScriptAlertPanel(WebView&, const std::string& message,
                                          std::function<void()> done) {
    AlertSpec spec{std::string(kPanelTitle), message, {std::string(kOkButton)}, std::nullopt};
    platform_.alerts.beginSheet(spec, [done = std::move(done)](AlertResponse) { done(); });
}

void AppDelegate::runJavaScriptConfirmPanel(WebView&, const std::string& message,
                                            std::function<void(bool)> done) {
    AlertSpec spec{std::string(kPanelTitle),
                   message,
                   {std::string(kOkButton), std::string(kCancelButton)},
                   std::nullopt};
    platform_.alerts.beginSheet(
        spec, [done = std::move(done)](AlertResponse response) { done(response.button == 0); });
}

void AppDelegate::runJavaScriptTextInputPanel(
    WebView&, const std::string& prompt, const std::string& defaultText,
    std::function<void(std::optional<std::string>)> done) {
    AlertSpec spec{prompt, "", {std::string(kOkButton), std::string(kCancelButton)}, defaultText};
    platform_.alerts.beginSheet(spec, [done = std::move(done)](AlertResponse response) {
        if (response.button == 0) {
            done(response.text);
        } else {
            done(std::nullopt);
        }
    });
}

void AppDelegate::runOpenPanel(WebView&, const OpenPanelParameters& parameters,
                               std::function<void(std::optional<std::vector<std::string>>)> done) {
    OpenPanelOptions options{parameters.allowsDirectories, parameters.allowsMultipleSelection};
    platform_.alerts.beginOpenPanel(options, std::move(done));
}

void AppDelegate::webContentProcessDidTerminate(WebView& sender) {
    sender.reload();
}

void AppDelegate::reloadPage() {
    if (connected) webView->reload();
}

void AppDelegate::didFinishNavigation(WebView&) {
    deliverPendingReminder();
}

}  // namespace lumory
