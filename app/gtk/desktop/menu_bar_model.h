#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gobject_ptr.h"
#include "gtk/desktop/gtk_menu_section.h"
#include "platform/menus.h"

namespace lumory::gtk {

// One menu as the page's context menu repeats it; an empty action marks a separator.
struct ContextMenu {
    std::string title;
    ContextMenuItems items;
};

// The shell's menus as the model of the window's menu bar, every item an application action
// ("app.menu-N") with its shortcut, and as the page's context menu repeats them.
class MenuBarModel {
public:
    // `itemActivated` runs before the action of whichever item the user chose.
    MenuBarModel(GtkApplication* application, std::function<void()> itemActivated);
    ~MenuBarModel();
    MenuBarModel(const MenuBarModel&) = delete;
    MenuBarModel& operator=(const MenuBarModel&) = delete;

    // A new model for `menuBar`; `perform` is called with the action of the item chosen.
    void set(const MenuBar& menuBar, std::function<void(const MenuAction&)> perform);
    // Null until the menus are set.
    GMenuModel* model() const { return G_MENU_MODEL(menuModel_.get()); }
    // Retitles the full-screen item for the window's new state.
    void showFullScreenState(bool fullScreen);
    // Items appended to the menu titled `menuTitle` until the section goes; nothing when there
    // is no such menu.
    std::unique_ptr<MenuSection> addSection(const std::string& menuTitle);

    const std::vector<ContextMenu>& contextMenus() const { return contextMenus_; }
    // What sections added to the menu titled `menuTitle`, in the context menu's terms.
    const ContextMenuItems* addedContextItems(const std::string& menuTitle) const;

private:
    struct ActionEntry;
    // A menu item whose title follows the window's state, with what it takes to rebuild it.
    struct RetitledItem {
        GObjectPtr<GMenu> section;
        int position = 0;
        std::string detailed;
        std::string accelerator;
        size_t contextMenu = 0;
        size_t contextItem = 0;
    };

    GtkApplication* application_;
    std::function<void()> itemActivated_;
    GObjectPtr<GMenu> menuModel_;
    std::vector<std::unique_ptr<ActionEntry>> actions_;
    std::vector<ContextMenu> contextMenus_;
    std::function<void(const MenuAction&)> perform_;
    std::optional<RetitledItem> fullScreenItem_;
    // Items that sections added to a menu for a while, by menu title, for the context menu.
    std::map<std::string, ContextMenuItems> addedContextItems_;
};

}  // namespace lumory::gtk
