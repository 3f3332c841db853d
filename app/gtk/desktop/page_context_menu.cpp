#include "gtk/desktop/page_context_menu.h"

#include "gtk/test_probe.h"

namespace lumory::gtk {

namespace {

bool isSpellingItem(WebKitContextMenuItem* item) {
    switch (webkit_context_menu_item_get_stock_action(item)) {
        case WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS:
        case WEBKIT_CONTEXT_MENU_ACTION_NO_GUESSES_FOUND:
        case WEBKIT_CONTEXT_MENU_ACTION_IGNORE_SPELLING:
        case WEBKIT_CONTEXT_MENU_ACTION_LEARN_SPELLING:
        case WEBKIT_CONTEXT_MENU_ACTION_IGNORE_GRAMMAR:
            return true;
        default:
            return false;
    }
}

// A right click on a misspelled word offers its corrections before anything else, as GNOME's
// editors do; the page's other items keep their order after them. WebKit offers corrections
// also with the checker off, where the user would not expect them: they go.
void putSpellingFirst(WebKitContextMenu* menu, bool checking) {
    guint moved = 0;
    for (guint index = 0; index < webkit_context_menu_get_n_items(menu);) {
        WebKitContextMenuItem* item = webkit_context_menu_get_item_at_position(menu, index);
        if (!isSpellingItem(item)) {
            ++index;
        } else if (!checking) {
            webkit_context_menu_remove(menu, item);
        } else {
            webkit_context_menu_move_item(menu, item, moved++);
            ++index;
        }
    }
    if (moved > 0 && moved < webkit_context_menu_get_n_items(menu) &&
        !webkit_context_menu_item_is_separator(
            webkit_context_menu_get_item_at_position(menu, moved))) {
        webkit_context_menu_insert(menu, webkit_context_menu_item_new_separator(), moved);
    }
}

// WebKit leaves a separator for each group it filled or emptied; one between groups is enough.
void dropExtraSeparators(WebKitContextMenu* menu) {
    bool previousWasSeparator = true;
    for (guint index = 0; index < webkit_context_menu_get_n_items(menu);) {
        WebKitContextMenuItem* item = webkit_context_menu_get_item_at_position(menu, index);
        bool separator = webkit_context_menu_item_is_separator(item);
        if (separator && previousWasSeparator) {
            webkit_context_menu_remove(menu, item);
            continue;
        }
        previousWasSeparator = separator;
        ++index;
    }
    guint count = webkit_context_menu_get_n_items(menu);
    if (count > 0) {
        WebKitContextMenuItem* last = webkit_context_menu_get_item_at_position(menu, count - 1);
        if (webkit_context_menu_item_is_separator(last)) webkit_context_menu_remove(menu, last);
    }
}

void appendShellMenus(WebKitContextMenu* menu, const MenuBarModel& menus) {
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
}

// The menu as it is about to show, one entry per item: WebKit's action ("spelling-guess",
// "custom" for the shell's) and the label.
void probeMenu(WebKitContextMenu* menu) {
    nlohmann::json items = nlohmann::json::array();
    g_autoptr(GEnumClass) actions =
        static_cast<GEnumClass*>(g_type_class_ref(WEBKIT_TYPE_CONTEXT_MENU_ACTION));
    for (GList* node = webkit_context_menu_get_items(menu); node != nullptr; node = node->next) {
        auto* item = WEBKIT_CONTEXT_MENU_ITEM(node->data);
        if (webkit_context_menu_item_is_separator(item)) {
            items.push_back({{"action", "separator"}, {"label", ""}});
            continue;
        }
        GEnumValue* action =
            g_enum_get_value(actions, webkit_context_menu_item_get_stock_action(item));
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GtkAction* gtkAction = webkit_context_menu_item_get_action(item);
        const char* label = gtkAction != nullptr ? gtk_action_get_label(gtkAction) : nullptr;
        G_GNUC_END_IGNORE_DEPRECATIONS
        items.push_back({{"action", action != nullptr ? action->value_nick : ""},
                         {"label", label != nullptr ? label : ""}});
    }
    emitTestProbe({{"event", "context-menu"}, {"items", items}});
}

gboolean extendContextMenu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent*,
                           WebKitHitTestResult*, gpointer data) {
    arrangePageItems(menu, webkit_web_context_get_spell_checking_enabled(
                               webkit_web_view_get_context(view)));
    appendShellMenus(menu, *static_cast<const MenuBarModel*>(data));
    if (testProbeEnabled()) probeMenu(menu);
    return FALSE;
}

}  // namespace

void arrangePageItems(WebKitContextMenu* menu, bool spellChecking) {
    putSpellingFirst(menu, spellChecking);
    dropExtraSeparators(menu);
}

void offerMenusInContextMenu(WebKitWebView* view, const MenuBarModel& menus) {
    g_signal_connect(view, "context-menu", G_CALLBACK(extendContextMenu),
                     const_cast<MenuBarModel*>(&menus));
}

}  // namespace lumory::gtk
