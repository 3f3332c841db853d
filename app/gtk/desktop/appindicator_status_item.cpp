#include "gtk/desktop/appindicator_status_item.h"

namespace lumory::gtk {

struct AppIndicatorStatusItem::Entry {
    WeakHandle<AppIndicatorStatusItem> self;
    std::function<void()> action;
};

AppIndicatorStatusItem::AppIndicatorStatusItem(const std::string& id,
                                               const std::optional<std::string>& iconThemePath) {
    indicator_ = GObjectPtr<AppIndicator>(
        app_indicator_new(id.c_str(), "", APP_INDICATOR_CATEGORY_APPLICATION_STATUS));
    if (iconThemePath) app_indicator_set_icon_theme_path(indicator_.get(), iconThemePath->c_str());
    app_indicator_set_status(indicator_.get(), APP_INDICATOR_STATUS_ACTIVE);
}

namespace {

// A GtkMenu lives in a popup window of its own: it goes only when destroyed.
struct Remains {
    GObjectPtr<AppIndicator> indicator;
    GObjectPtr<GtkWidget> menu;
    ~Remains() {
        if (menu) gtk_widget_destroy(menu.get());
    }
};

}  // namespace

AppIndicatorStatusItem::~AppIndicatorStatusItem() {
    // Hosts hide a passive item at once, before the object leaves the bus.
    app_indicator_set_status(indicator_.get(), APP_INDICATOR_STATUS_PASSIVE);
    auto* remains = new Remains{std::move(indicator_), std::move(menu_)};
    if (!activating_) {
        delete remains;
        return;
    }
    // Destroyed from inside its own menu's activation: the menu export still uses both.
    g_idle_add(
        [](gpointer data) -> gboolean {
            delete static_cast<Remains*>(data);
            return G_SOURCE_REMOVE;
        },
        remains);
}

void AppIndicatorStatusItem::setTitle(const std::string& title) {
    app_indicator_set_label(indicator_.get(), title.c_str(), title.c_str());
}

void AppIndicatorStatusItem::setToolTip(const std::string& toolTip) {
    toolTip_ = toolTip;
    app_indicator_set_title(indicator_.get(), toolTip.c_str());
    if (!iconName_.empty()) setIconName(iconName_);
}

void AppIndicatorStatusItem::setIconName(const std::string& iconName) {
    iconName_ = iconName;
    app_indicator_set_icon_full(indicator_.get(), iconName.c_str(), toolTip_.c_str());
}

void AppIndicatorStatusItem::setMenu(const std::vector<StatusMenuItem>& items) {
    GtkWidget* menu = gtk_menu_new();
    if (menu_ && !activating_) gtk_widget_destroy(menu_.get());
    menu_ = GObjectPtr<GtkWidget>(GTK_WIDGET(g_object_ref_sink(menu)));
    items_.clear();
    for (const StatusMenuItem& item : items) {
        GtkWidget* widget = nullptr;
        if (item.isSeparator()) {
            widget = gtk_separator_menu_item_new();
        } else if (item.checkable) {
            widget = gtk_check_menu_item_new_with_label(item.title.c_str());
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
        } else {
            widget = gtk_menu_item_new_with_label(item.title.c_str());
        }
        if (!item.isSeparator()) {
            g_signal_connect_data(
                widget, "activate", G_CALLBACK(&AppIndicatorStatusItem::itemActivated),
                new Entry{lifetime_.weak(), item.action},
                [](gpointer data, GClosure*) { delete static_cast<Entry*>(data); },
                GConnectFlags(0));
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
        items_.push_back(widget);
    }
    gtk_widget_show_all(menu);
    app_indicator_set_menu(indicator_.get(), GTK_MENU(menu));
}

void AppIndicatorStatusItem::setItemChecked(size_t index, bool checked) {
    if (index >= items_.size() || !GTK_IS_CHECK_MENU_ITEM(items_[index])) return;
    auto* item = GTK_CHECK_MENU_ITEM(items_[index]);
    if (gtk_check_menu_item_get_active(item) == checked) return;
    // Setting the state activates a GTK 3 check item; that must not run the action again.
    auto handler = reinterpret_cast<gpointer>(&itemActivated);
    g_signal_handlers_block_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, handler, nullptr);
    gtk_check_menu_item_set_active(item, checked);
    g_signal_handlers_unblock_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr, handler, nullptr);
}

void AppIndicatorStatusItem::itemActivated(GtkMenuItem*, gpointer data) {
    auto* entry = static_cast<Entry*>(data);
    AppIndicatorStatusItem* item = entry->self.get();
    if (item == nullptr || !entry->action) return;
    std::function<void()> action = entry->action;
    WeakHandle<AppIndicatorStatusItem> alive = entry->self;
    item->activating_ = true;
    action();
    if (!alive.expired()) item->activating_ = false;
}

}  // namespace lumory::gtk
