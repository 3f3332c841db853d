#pragma once

#include <webkit2/webkit2.h>

#include "gtk/desktop/menu_bar_model.h"

namespace lumory::gtk {

// The hidden menu bar needs the keyboard; the page's context menu offers the same menus to the
// mouse, after the page's own items; on a misspelled word its spelling suggestions come first.
// `menus` must outlive the view.
void offerMenusInContextMenu(WebKitWebView* view, const MenuBarModel& menus);

}  // namespace lumory::gtk
