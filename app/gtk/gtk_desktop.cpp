#include "gtk_desktop.h"

#include "shell/menu_bar.h"
#include "test_probe.h"

#include "appindicator_status_item.h"
#include "gtk_main_window.h"
#include "test_probe.h"
#include "gtk_overlay_window.h"
#include "webkit_web_view.h"

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

class OwnedMainWindow : public MainWindow {
public:
    explicit OwnedMainWindow(std::unique_ptr<GtkMainWindow> window, GtkMainWindow*& registered)
        : window_(std::move(window)), registered_(registered) {
        registered_ = window_.get();
    }
    ~OwnedMainWindow() override {
        if (registered_ == window_.get()) registered_ = nullptr;
    }
    void restoreFrame(const std::string& name) override {
        window_->restoreFrame(name);
    }
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

// GNOME's session manager (or the portal inside a sandbox) shows `reason` when the user tries to
// log out; without a session manager the cookie is 0 and there is nothing to release.
class GtkSessionInhibition : public SessionInhibition {
public:
    GtkSessionInhibition(GtkApplication* application, GtkWindow* window, const std::string& reason)
        : application_(GObjectPtr<GtkApplication>::retain(application)) {
        cookie_ = gtk_application_inhibit(application, window, GTK_APPLICATION_INHIBIT_LOGOUT,
                                          reason.c_str());
    }
    ~GtkSessionInhibition() override {
        if (cookie_ != 0) gtk_application_uninhibit(application_.get(), cookie_);
    }

private:
    GObjectPtr<GtkApplication> application_;
    guint cookie_ = 0;
};

}  // namespace

struct GtkDesktop::ActionEntry {
    GtkDesktop* desktop;
    MenuAction action;
};

GtkDesktop::GtkDesktop(GtkApplication* application) : application_(application) {}

GtkDesktop::~GtkDesktop() {
    for (size_t i = 0; i < actions_.size(); ++i) {
        g_action_map_remove_action(G_ACTION_MAP(application_),
                                   ("menu-" + std::to_string(i)).c_str());
    }
}

WebKitWebContext* GtkDesktop::webContext(bool persistent) {
    if (!persistent) return webkit_web_context_get_default();
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
    }
    return persistentContext_.get();
}

std::unique_ptr<WebView> GtkDesktop::createWebView(const WebViewConfiguration& configuration,
                                                   WebViewDelegate& delegate) {
    return std::make_unique<WebKitWebViewHost>(webContext(configuration.persistentWebsiteData),
                                               configuration, delegate);
}

GObjectPtr<GMenuItem> GtkDesktop::menuItem(const std::string& title, const std::string& detailed,
                                           const std::string& accelerator) {
    GObjectPtr<GMenuItem> item(g_menu_item_new(title.c_str(), detailed.c_str()));
    if (!accelerator.empty()) {
        g_menu_item_set_attribute(item.get(), "accel", "s", accelerator.c_str());
    }
    return item;
}

// A menu model item cannot change its label: it is replaced in place.
void GtkDesktop::showFullScreenState(bool fullScreen) {
    if (!fullScreenItem_) return;
    RetitledItem& item = *fullScreenItem_;
    std::string title = fullScreenItemTitle(fullScreen);
    g_menu_remove(item.section.get(), item.position);
    g_menu_insert_item(item.section.get(), item.position,
                       menuItem(title, item.detailed, item.accelerator).get());
    contextMenus_[item.contextMenu].items[item.contextItem].first = title;
    emitTestProbe({{"event", "menu-item"}, {"title", title}});
}

std::unique_ptr<MainWindow> GtkDesktop::createMainWindow(const MainWindowSpec& spec,
                                                         WebView& content,
                                                         std::function<void()> closeRequested) {
    auto& host = static_cast<WebKitWebViewHost&>(content);
    WindowFrameStore frames(
        userPath(g_get_user_config_dir(), {kProductFolder, "window-frames.ini"}));
    // The hidden menu bar needs the keyboard; the page's context menu offers the same menus to
    // the mouse.
    g_signal_connect(host.widget(), "context-menu", G_CALLBACK(&GtkDesktop::extendContextMenu),
                     this);
    auto window = std::make_unique<GtkMainWindow>(application_, spec, host.widget(),
                                                  G_MENU_MODEL(menuModel_.get()), std::move(frames),
                                                  std::move(closeRequested));
    window->setFullScreenChanged([this](bool fullScreen) { showFullScreenState(fullScreen); });
    return std::make_unique<OwnedMainWindow>(std::move(window), mainWindow_);
}

void GtkDesktop::setMenuBar(const MenuBar& menuBar,
                            std::function<void(const MenuAction&)> perform) {
    perform_ = std::move(perform);
    fullScreenItem_.reset();
    menuModel_ = GObjectPtr<GMenu>(g_menu_new());
    contextMenus_.clear();
    for (const Menu& menu : menuBar) {
        ContextMenuEntry& contextMenu = contextMenus_.emplace_back();
        contextMenu.title = menu.title;
        GObjectPtr<GMenu> submenu(g_menu_new());
        GObjectPtr<GMenu> section(g_menu_new());
        for (const MenuItem& item : menu.items) {
            if (item.isSeparator()) {
                contextMenu.items.emplace_back(std::string(), GObjectPtr<GAction>());
                g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
                section = GObjectPtr<GMenu>(g_menu_new());
                continue;
            }
            std::string name = "menu-" + std::to_string(actions_.size());
            auto entry = std::make_unique<ActionEntry>(ActionEntry{this, item.action});
            GSimpleAction* action = g_simple_action_new(name.c_str(), nullptr);
            g_signal_connect(action, "activate",
                             G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer data) {
                                 auto* entry = static_cast<ActionEntry*>(data);
                                 if (entry->desktop->mainWindow_) {
                                     entry->desktop->mainWindow_->menuItemActivated();
                                 }
                                 if (entry->desktop->perform_)
                                     entry->desktop->perform_(entry->action);
                             }),
                             entry.get());
            g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(action));
            contextMenu.items.emplace_back(item.title, GObjectPtr<GAction>(G_ACTION(action)));

            std::string detailed = "app." + name;
            std::string accelerator = acceleratorFor(item);
            if (!accelerator.empty()) {
                const char* accels[] = {accelerator.c_str(), nullptr};
                gtk_application_set_accels_for_action(application_, detailed.c_str(), accels);
            }
            auto* standard = std::get_if<StandardAction>(&item.action);
            if (standard && *standard == StandardAction::ToggleFullScreen) {
                fullScreenItem_ =
                    RetitledItem{GObjectPtr<GMenu>::retain(section.get()),
                                 g_menu_model_get_n_items(G_MENU_MODEL(section.get())),
                                 detailed,
                                 accelerator,
                                 contextMenus_.size() - 1,
                                 contextMenu.items.size() - 1};
            }
            g_menu_append_item(section.get(), menuItem(item.title, detailed, accelerator).get());
            actions_.push_back(std::move(entry));
        }
        g_menu_append_section(submenu.get(), nullptr, G_MENU_MODEL(section.get()));
        g_menu_append_submenu(menuModel_.get(), menu.title.c_str(), G_MENU_MODEL(submenu.get()));
    }
}

gboolean GtkDesktop::extendContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                       WebKitHitTestResult*, gpointer data) {
    auto* self = static_cast<GtkDesktop*>(data);
    if (webkit_context_menu_get_n_items(menu) > 0) {
        webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
    }
    for (const ContextMenuEntry& entry : self->contextMenus_) {
        WebKitContextMenu* submenu = webkit_context_menu_new();
        for (const auto& [title, action] : entry.items) {
            webkit_context_menu_append(submenu, action ? webkit_context_menu_item_new_from_gaction(
                                                             action.get(), title.c_str(), nullptr)
                                                       : webkit_context_menu_item_new_separator());
        }
        auto added = self->addedContextItems_.find(entry.title);
        if (added != self->addedContextItems_.end() && !added->second.empty()) {
            webkit_context_menu_append(submenu, webkit_context_menu_item_new_separator());
            for (const auto& [title, action] : added->second) {
                webkit_context_menu_append(submenu, webkit_context_menu_item_new_from_gaction(
                                                        action.get(), title.c_str(), nullptr));
            }
        }
        webkit_context_menu_append(
            menu, webkit_context_menu_item_new_with_submenu(entry.title.c_str(), submenu));
        g_object_unref(submenu);
    }
    return FALSE;
}

void GtkDesktop::showAboutDialog() {
    GtkWindow* parent = mainWindow_ ? mainWindow_->gtkWindow() : nullptr;
    gtk_show_about_dialog(parent, "program-name", "Lumory", "version", LUMORY_VERSION,
                          "logo-icon-name", "org.lumory.Lumory", nullptr);
}

bool GtkDesktop::openUri(const std::string& url) {
    if (url.find('\0') != std::string::npos) return false;
    // The desktop's handler for the scheme (through the OpenURI portal inside a sandbox); never
    // a command line.
    GdkAppLaunchContext* context = gdk_display_get_app_launch_context(gdk_display_get_default());
    gboolean opened =
        g_app_info_launch_default_for_uri(url.c_str(), G_APP_LAUNCH_CONTEXT(context), nullptr);
    g_object_unref(context);
    return opened != FALSE;
}

std::unique_ptr<OverlayWindow> GtkDesktop::createOverlayWindow(
    const OverlayWindowSpec& spec, WebView& content, std::function<void()> closeRequested) {
    auto& host = static_cast<WebKitWebViewHost&>(content);
    WindowFrameStore frames(
        userPath(g_get_user_config_dir(), {kProductFolder, "window-frames.ini"}));
    return std::make_unique<GtkOverlayWindow>(application_, spec, host.widget(), std::move(frames),
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
    if (!menuModel_) return nullptr;
    GMenuModel* bar = G_MENU_MODEL(menuModel_.get());
    for (int i = 0; i < g_menu_model_get_n_items(bar); ++i) {
        g_autofree char* label = nullptr;
        if (!g_menu_model_get_item_attribute(bar, i, G_MENU_ATTRIBUTE_LABEL, "s", &label) ||
            menuTitle != label) {
            continue;
        }
        GObjectPtr<GMenuModel> submenu(g_menu_model_get_item_link(bar, i, G_MENU_LINK_SUBMENU));
        if (!submenu || !G_IS_MENU(submenu.get())) return nullptr;
        return std::make_unique<GtkMenuSection>(application_, G_MENU(submenu.get()),
                                                addedContextItems_[menuTitle]);
    }
    return nullptr;
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
