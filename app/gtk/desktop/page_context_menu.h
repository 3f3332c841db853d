#pragma once

#include <webkit2/webkit2.h>

#include "gtk/desktop/menu_bar_model.h"

namespace lumory::gtk {

// The hidden menu bar needs the keyboard; the page's context menu offers the same menus to the
// mouse, after the page's own items; on a misspelled word its spelling suggestions come first.
// `menus` must outlive the view.
// WebKit's own items of a context menu: spelling suggestions first while the checker is on,
// gone while it is off; no empty groups.
void arrangePageItems(WebKitContextMenu* menu, bool spellChecking);

void offerMenusInContextMenu(WebKitWebView* view, const MenuBarModel& menus);

}  // namespace lumory::gtk
