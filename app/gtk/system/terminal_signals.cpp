#include "gtk/system/terminal_signals.h"

#include <glib-unix.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

namespace lumory::gtk {

namespace {

sigset_t terminalSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    return signals;
}

struct Watch {
    int fd;
    GSourceFunc quit;
    gpointer data;
};

gboolean signalArrived(gint fd, GIOCondition, gpointer data) {
    auto* watch = static_cast<Watch*>(data);
    signalfd_siginfo info;
    // Several signals may have queued up; each asks to quit, and asking again is harmless.
    while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        watch->quit(watch->data);
    }
    return G_SOURCE_CONTINUE;
}

void closeWatch(gpointer data) {
    auto* watch = static_cast<Watch*>(data);
    close(watch->fd);
    delete watch;
}

}  // namespace

void blockTerminalSignals() {
    sigset_t signals = terminalSignals();
    sigprocmask(SIG_BLOCK, &signals, nullptr);
}

guint watchTerminalSignals(GSourceFunc quit, gpointer data) {
    sigset_t signals = terminalSignals();
    int fd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) return 0;
    return g_unix_fd_add_full(G_PRIORITY_DEFAULT, fd, G_IO_IN, signalArrived,
                              new Watch{fd, quit, data}, closeWatch);
}

void restoreDefaultSignals() {
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and gaps
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace lumory::gtk
