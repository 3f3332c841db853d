#include "gtk/desktop/gtk_desktop.h"

#include "gtk/desktop/appindicator_status_item.h"
#include "gtk/desktop/page_context_menu.h"
#include "gtk/desktop/session_inhibition.h"
#include "gtk/test_probe.h"
#include "gtk/web_view/webkit_web_view.h"
#include "gtk/windows/gtk_main_window.h"
#include "gtk/windows/gtk_overlay_window.h"

#ifndef LUMORY_VERSION
#define LUMORY_VERSION ""
#endif

namespace lumory::gtk {

namespace {

constexpr char kProductFolder[] = "lumory";
constexpr char kStatusItemId[] = "lumory-live-overlay";

std::string userPath(const char* base, std::initializer_list<const char*> parts) {
    std::string path = base;
    for (const char* part : parts) path += std::string("/") + part;
    return path;
}

WindowFrameStore frameStore() {
    return WindowFrameStore(
        userPath(g_get_user_config_dir(), {kProductFolder, "window-frames.ini"}));
}

// The main window, known to the desktop for as long as it lives.
class OwnedMainWindow : public MainWindow {
public:
    explicit OwnedMainWindow(std::unique_ptr<GtkMainWindow> window, GtkMainWindow*& registered)
        : window_(std::move(window)), registered_(registered) {
        registered_ = window_.get();
    }
    ~OwnedMainWindow() override {
        if (registered_ == window_.get()) registered_ = nullptr;
    }
    void restoreFrame(const std::string& name) override { window_->restoreFrame(name); }
    void center() override { window_->center(); }
    void present() override { window_->present(); }
    void minimize() override { window_->minimize(); }
    void toggleMaximized() override { window_->toggleMaximized(); }
    void toggleFullScreen() override { window_->toggleFullScreen(); }
    void beginMoveDrag() override { window_->beginMoveDrag(); }
    void placeWindowControls(Point closeOrigin) override {
        window_->placeWindowControls(closeOrigin);
    }

private:
    std::unique_ptr<GtkMainWindow> window_;
    GtkMainWindow*& registered_;
};

}  // namespace

GtkDesktop::GtkDesktop(GtkApplication* application)
    : application_(application), menus_(application, [this] {
          if (mainWindow_) mainWindow_->menuItemActivated();
      }) {}

WebKitWebContext* GtkDesktop::webContext(bool persistent) {
    if (!persistent) {
        applySpellChecking(webkit_web_context_get_default());
        return webkit_web_context_get_default();
    }
    if (!persistentContext_) {
        std::string data = userPath(g_get_user_data_dir(), {kProductFolder, "website-data"});
        std::string cache = userPath(g_get_user_cache_dir(), {kProductFolder, "website-data"});
        GObjectPtr<WebKitWebsiteDataManager> manager(webkit_website_data_manager_new(
            "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr));
        persistentContext_ = GObjectPtr<WebKitWebContext>(
            webkit_web_context_new_with_website_data_manager(manager.get()));
        std::string cookies = data + "/cookies.sqlite";
        webkit_cookie_manager_set_persistent_storage(
            webkit_web_context_get_cookie_manager(persistentContext_.get()), cookies.c_str(),
            WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
        applySpellChecking(persistentContext_.get());
    }
    return persistentContext_.get();
}

void GtkDesktop::setSpellCheckingLanguages(const std::vector<std::string>& languages) {
    spellCheckingLanguages_ = languages;
    if (persistentContext_) applySpellChecking(persistentContext_.get());
}

void GtkDesktop::applySpellChecking(WebKitWebContext* context) const {
    std::vector<const char*> languages;
    for (const std::string& language : spellCheckingLanguages_) {
        languages.push_back(language.c_str());
    }
    languages.push_back(nullptr);
    webkit_web_context_set_spell_checking_languages(context, languages.data());
    webkit_web_context_set_spell_checking_enabled(context, !spellCheckingLanguages_.empty());
}

std::unique_ptr<WebView> GtkDesktop::createWebView(const WebViewConfiguration& configuration,
                                                   WebViewDelegate& delegate) {
    return std::make_unique<WebKitWebViewHost>(webContext(configuration.persistentWebsiteData),
                                               configuration, delegate);
}

std::unique_ptr<MainWindow> GtkDesktop::createMainWindow(const MainWindowSpec& spec,
                                                         WebView& content,
                                                         std::function<void()> closeRequested) {
    auto& host = static_cast<WebKitWebViewHost&>(content);
    offerMenusInContextMenu(WEBKIT_WEB_VIEW(host.widget()), menus_);
    auto window = std::make_unique<GtkMainWindow>(application_, spec, host.widget(),
                                                  menus_.model(), frameStore(),
                                                  std::move(closeRequested));
    window->setFullScreenChanged(
        [this](bool fullScreen) { menus_.showFullScreenState(fullScreen); });
    return std::make_unique<OwnedMainWindow>(std::move(window), mainWindow_);
}

void GtkDesktop::setMenuBar(const MenuBar& menuBar,
                            std::function<void(const MenuAction&)> perform) {
    menus_.set(menuBar, std::move(perform));
}

void GtkDesktop::showAboutDialog() {
    gtk_show_about_dialog(mainGtkWindow(), "program-name", "Lumory", "version", LUMORY_VERSION,
                          "logo-icon-name", "org.lumory.Lumory", nullptr);
}

bool GtkDesktop::openUri(const std::string& url) {
    if (url.find('\0') != std::string::npos) return false;
    // The desktop's handler for the scheme (through the OpenURI portal inside a sandbox); never
    // a command line.
    GObjectPtr<GdkAppLaunchContext> context(
        gdk_display_get_app_launch_context(gdk_display_get_default()));
    gboolean opened = g_app_info_launch_default_for_uri(
        url.c_str(), G_APP_LAUNCH_CONTEXT(context.get()), nullptr);
    return opened != FALSE;
}

std::unique_ptr<OverlayWindow> GtkDesktop::createOverlayWindow(
    const OverlayWindowSpec& spec, WebView& content, std::function<void()> closeRequested) {
    auto& host = static_cast<WebKitWebViewHost&>(content);
    return std::make_unique<GtkOverlayWindow>(application_, spec, host.widget(), frameStore(),
                                              std::move(closeRequested));
}

std::unique_ptr<StatusItem> GtkDesktop::createStatusItem() {
    // Icons installed beside the shell (share/icons next to bin/), for any install prefix.
    std::optional<std::string> iconThemePath;
    g_autofree char* executable = g_file_read_link("/proc/self/exe", nullptr);
    if (executable != nullptr) {
        g_autofree char* bin = g_path_get_dirname(executable);
        g_autofree char* icons = g_build_filename(bin, "..", "share", "icons", nullptr);
        g_autofree char* canonical = g_canonicalize_filename(icons, nullptr);
        if (g_file_test(canonical, G_FILE_TEST_IS_DIR)) iconThemePath = canonical;
    }
    return std::make_unique<AppIndicatorStatusItem>(kStatusItemId, iconThemePath);
}

std::unique_ptr<MenuSection> GtkDesktop::addMenuSection(const std::string& menuTitle) {
    return menus_.addSection(menuTitle);
}

GtkWindow* GtkDesktop::mainGtkWindow() const {
    return mainWindow_ ? mainWindow_->gtkWindow() : nullptr;
}

void GtkDesktop::activate() {
    if (mainWindow_) gtk_window_present(mainWindow_->gtkWindow());
}

std::unique_ptr<SessionInhibition> GtkDesktop::inhibitLogout(const std::string& reason) {
    return std::make_unique<GtkSessionInhibition>(application_, mainGtkWindow(), reason);
}

void GtkDesktop::activateWithToken(const std::string& activationToken) {
    if (!mainWindow_) return;
    GtkWindow* window = mainWindow_->gtkWindow();
    // On Wayland the token goes to xdg-activation; on X11 its "_TIME" part is the user time.
    if (!activationToken.empty()) gtk_window_set_startup_id(window, activationToken.c_str());
    gtk_window_present(window);
    if (testProbeEnabled()) {
        emitTestProbe({{"event", "activated"}, {"token", activationToken}});
    }
}

void GtkDesktop::quit() {
    g_application_quit(G_APPLICATION(application_));
}

}  // namespace lumory::gtk
