// lumory-cal: calendar and reminders helper. JSON requests in, one per line on standard input;
// JSON replies and notices out, one per line on standard output.

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include "command_context.h"
#include "commands.h"
#include "eds/eds_event_store.h"
#include "helper_role.h"
#include "request_reader.h"

namespace {

constexpr auto kDrainLimit = std::chrono::seconds(120);

// The helper never writes to standard error; libraries that log are silenced.
void silenceStandardError() {
    g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize, gpointer) {
        return G_LOG_WRITER_HANDLED;
    }, nullptr, nullptr);
    int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) {
        dup2(devNull, STDERR_FILENO);
        close(devNull);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace lumory;
    const char* disclaimFlag = "LUMORY_CAL_DISCLAIMED";
    const bool hostedByDesktop = helper::hostedByDesktopEnvironment();
    if (auto waitStatus = helper::relaunchDisclaimedAndWait(disclaimFlag, hostedByDesktop, argc, argv))
        return helper::exitCodePassingChildCode(*waitStatus);

    // A peer that closed our output must not end us before the drain.
    std::signal(SIGPIPE, SIG_IGN);
    silenceStandardError();

    // Process-wide for the life of the process; ended with _exit, never destroyed.
    auto* store = new cal::EdsEventStore();
    auto* output = new cal::Output(cal::Output::descriptorWriter(STDOUT_FILENO));
    auto* context = new cal::CommandContext(*store, *output);

    store->setChangeHandler([context] { context->emit({{"event", "changed"}}); });

    // The process may only end once the ready notice is out, however fast the input ends.
    auto* readyWritten = new std::promise<void>();
    std::thread([context, ready = readyWritten->get_future()] {
        cal::readRequests(*context, STDIN_FILENO);
        context->drain(kDrainLimit);
        ready.wait();
        // Other threads may be inside GLib; skip the exit handlers rather than race them.
        _exit(0);
    }).detach();

    context->emit({{"event", "ready"}, {"status", cal::statusName(cal::currentStatus(*context))}});
    readyWritten->set_value();

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
