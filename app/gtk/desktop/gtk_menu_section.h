#pragma once

#include <gtk/gtk.h>

#include <string>
#include <utility>
#include <vector>

#include "gobject_ptr.h"
#include "platform/overlay_window.h"
#include "weak_handle.h"

namespace lumory::gtk {

// Titles and actions as the page's context menu repeats a menu.
using ContextMenuItems = std::vector<std::pair<std::string, GObjectPtr<GAction>>>;

// A section appended to one submenu of the menu-bar model (and to the same menu in the page's
// context menu), its items backed by application actions; all of it goes with the object.
class GtkMenuSection : public MenuSection {
public:
    GtkMenuSection(GtkApplication* application, GMenu* menu, ContextMenuItems& contextItems);
    ~GtkMenuSection() override;

    void setItems(const std::vector<StatusMenuItem>& items) override;
    void setItemChecked(size_t index, bool checked) override;

private:
    struct Entry;
    void clear();

    GtkApplication* application_;
    GObjectPtr<GMenu> menu_;
    GObjectPtr<GMenu> section_;
    ContextMenuItems& contextItems_;
    std::vector<std::string> actionNames_;
    std::vector<GObjectPtr<GSimpleAction>> actions_;
    std::vector<int> actionOfItem_;
    Lifetime<GtkMenuSection> lifetime_{this};
};

}  // namespace lumory::gtk
