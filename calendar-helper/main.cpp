// lumory-cal: calendar and reminders helper. JSON requests in, one per line on standard input;
// JSON replies and notices out, one per line on standard output.

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "command_context.h"
#include "commands.h"
#include "eds/eds_event_store.h"
#include "helper_role.h"
#include "request_reader.h"

// Present only in builds with LeakSanitizer; the exit handlers that would run it are skipped.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace {

constexpr auto kDrainLimit = std::chrono::seconds(120);

// A run under a sanitizer (its options set in the environment), or one asked for with
// LUMORY_CAL_DIAGNOSTICS=1, keeps standard error, so that reports reach it or their log_path.
bool diagnosing() {
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
        if (std::getenv(name) != nullptr) return true;
    const char* asked = std::getenv("LUMORY_CAL_DIAGNOSTICS");
    return asked != nullptr && std::strcmp(asked, "1") == 0;
}

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

[[noreturn]] void endProcess() {
    if (__lsan_do_leak_check != nullptr) __lsan_do_leak_check();
    // Other threads may be inside GLib; skip the exit handlers rather than race them.
    _exit(0);
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
    if (!diagnosing()) silenceStandardError();

    // Process-wide for the life of the process; ended with _exit, never destroyed.
    auto* output = new cal::Output(cal::Output::descriptorWriter(STDOUT_FILENO));
    // The ready notice is the first line: change notices of the start-up wait behind it.
    output->holdUntilOpened();
    auto* store = new cal::eds::EdsEventStore();
    auto* context = new cal::CommandContext(*store, *output);

    store->setChangeHandler([context] { context->emit({{"event", "changed"}}); });

    output->open({{"event", "ready"}, {"status", cal::statusName(cal::currentStatus(*context))}});
    // Requests already waiting are read only now, so that no reply can precede the notice.
    std::thread([context] {
        cal::readRequests(*context, STDIN_FILENO);
        context->drain(kDrainLimit);
        endProcess();
    }).detach();

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
