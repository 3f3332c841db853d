#pragma once

#include <webkit2/webkit2.h>

namespace lumory::gtk {

// With the test probe on, reports the page's title whenever it changes.
void probeTitleChanges(WebKitWebView* view);

// With the test probe on, reports the page just loaded: its address, title and text.
void probeLoadedPage(WebKitWebView* view);

}  // namespace lumory::gtk
