#pragma once

#include <glib.h>

namespace lumory::gtk {

// Ctrl+C and a closing terminal signal the whole foreground job, and WebKit starts its web and
// network processes in the shell's job: killed by SIGINT or SIGHUP, the page and the text typed
// into it are gone before the shell could ask it to save. Blocked before any thread or child
// exists, the two signals stay blocked in every process WebKit starts (a blocked mask survives
// exec), and the shell reads them from a signalfd instead.
//
// Call before any thread exists: threads keep the mask they started with.
void blockTerminalSignals();

// Calls `quit(data)` on the default main context for each SIGINT or SIGHUP sent to the shell.
// Returns the source's id for g_source_remove; 0 when no signalfd could be made.
guint watchTerminalSignals(GSourceFunc quit, gpointer data);

// For a program the shell starts on purpose, between fork and exec: every signal unblocked and
// at its default action, as if started from a terminal. Async-signal-safe.
void restoreDefaultSignals();

}  // namespace lumory::gtk
