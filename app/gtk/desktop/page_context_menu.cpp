#include "gtk/desktop/page_context_menu.h"

namespace lumory::gtk {

namespace {

gboolean extendContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                           WebKitHitTestResult*, gpointer data) {
    const auto& menus = *static_cast<const MenuBarModel*>(data);
    if (webkit_context_menu_get_n_items(menu) > 0) {
        webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
    }
    for (const ContextMenu& entry : menus.contextMenus()) {
        WebKitContextMenu* submenu = webkit_context_menu_new();
        for (const auto& [title, action] : entry.items) {
            webkit_context_menu_append(submenu, action ? webkit_context_menu_item_new_from_gaction(
                                                             action.get(), title.c_str(), nullptr)
                                                       : webkit_context_menu_item_new_separator());
        }
        const ContextMenuItems* added = menus.addedContextItems(entry.title);
        if (added != nullptr && !added->empty()) {
            webkit_context_menu_append(submenu, webkit_context_menu_item_new_separator());
            for (const auto& [title, action] : *added) {
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

}  // namespace

void offerMenusInContextMenu(WebKitWebView* view, const MenuBarModel& menus) {
    g_signal_connect(view, "context-menu", G_CALLBACK(extendContextMenu),
                     const_cast<MenuBarModel*>(&menus));
}

}  // namespace lumory::gtk
