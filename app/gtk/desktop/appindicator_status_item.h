#pragma once

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <optional>
#include <string>

#include "gobject_ptr.h"
#include "platform/overlay_window.h"
#include "weak_handle.h"

namespace lumory::gtk {

// A StatusNotifierItem through libayatana-appindicator3, its menu exported over
// com.canonical.dbusmenu. Where no StatusNotifierWatcher runs, the library falls back to the
// XEmbed tray, if there is one.
class AppIndicatorStatusItem : public StatusItem {
public:
    // `iconThemePath`: an extra folder of icon themes for the status area to search, if any.
    AppIndicatorStatusItem(const std::string& id, const std::optional<std::string>& iconThemePath);
    ~AppIndicatorStatusItem() override;

    // The label beside the icon (hosts that show text).
    void setTitle(const std::string& title) override;
    // The library has no tool-tip call: the item's Title is what status areas show as its tool
    // tip and accessible name.
    void setToolTip(const std::string& toolTip) override;
    void setIconName(const std::string& iconName) override;
    void setMenu(const std::vector<StatusMenuItem>& items) override;
    void setItemChecked(size_t index, bool checked) override;

private:
    struct Entry;
    static void itemActivated(GtkMenuItem* item, gpointer entry);

    GObjectPtr<AppIndicator> indicator_;
    GObjectPtr<GtkWidget> menu_;
    std::vector<GtkWidget*> items_;
    std::string toolTip_;
    std::string iconName_;
    // Set while one of its own menu items runs its action, which may destroy this item.
    bool activating_ = false;
    Lifetime<AppIndicatorStatusItem> lifetime_{this};
};

}  // namespace lumory::gtk
