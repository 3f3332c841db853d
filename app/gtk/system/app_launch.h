#pragma once

#include <gio/gio.h>

namespace lumory::gtk {

// Programs the shell opens for the user (a browser, a mail client, the desktop's settings) are
// started as GIO would start them, but with every signal unblocked and at its default action:
// the shell's own blocked SIGINT and SIGHUP would otherwise be theirs for good.
bool launchApp(GAppInfo* app, GList* uris, GAppLaunchContext* context);

// The desktop's handler for `uri`'s scheme (or, failing that, for the file it names), started
// as launchApp starts it; inside a sandbox, the OpenURI portal's choice.
bool launchDefaultForUri(const char* uri, GAppLaunchContext* context);

}  // namespace lumory::gtk
