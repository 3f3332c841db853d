#include "gtk/system/gio_service_launcher.h"

#include <gio/gio.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include "gobject_ptr.h"
#include "gtk/system/terminal_signals.h"

namespace lumory::gtk {

namespace {

constexpr gsize kReadChunk = 64 * 1024;
// After the exit, how long output still in the pipes may take to arrive before the exit is
// reported anyway (a grandchild can keep a pipe open indefinitely).
constexpr guint kDrainAfterExitMs = 250;

// Runs in the child before exec. A group of its own keeps a terminal's Ctrl+C and hang-up
// away from the service and the helpers it starts, and lets the shell end all of them at once;
// the signals the shell blocks for itself would otherwise stay blocked in the service.
void prepareChild(gpointer parentPid) {
    setpgid(0, 0);
    restoreDefaultSignals();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may already have died between fork and prctl.
    if (getppid() != static_cast<pid_t>(GPOINTER_TO_INT(parentPid))) _exit(127);
}

struct ProcessState {
    struct Reader {
        GObjectPtr<GInputStream> stream;
        std::function<bool(std::string_view)> onChunk;
        bool open = false;
        // No longer read for its text, but still read to its end and thrown away: a service
        // must never block on a full pipe, nor pile its output up anywhere.
        bool discarding = false;
    };

    GObjectPtr<GSubprocess> subprocess;
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    Reader output;
    Reader error;
    std::function<void(int)> onExit;
    pid_t pid = 0;
    bool exited = false;
    bool exitReported = false;
    int status = 0;
    guint drainTimer = 0;
};

using StateRef = std::shared_ptr<ProcessState>;

void reportExitIfDrained(const StateRef& state, bool force) {
    if (!state->exited || state->exitReported) return;
    if (!force && (state->output.open || state->error.open)) return;
    state->exitReported = true;
    if (state->drainTimer != 0) g_source_remove(state->drainTimer);
    state->drainTimer = 0;
    if (state->onExit) state->onExit(state->status);
}

void readNext(const StateRef& state, ProcessState::Reader ProcessState::*which);

template <ProcessState::Reader ProcessState::*which>
void chunkRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<StateRef> holder(static_cast<StateRef*>(data));
    StateRef state = *holder;
    g_autoptr(GError) error = nullptr;
    g_autoptr(GBytes) bytes =
        g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    if (g_cancellable_is_cancelled(state->cancellable.get())) return;
    ProcessState::Reader& reader = (*state).*which;
    if (!reader.open) return;
    gsize size = 0;
    const char* data_ = bytes ? static_cast<const char*>(g_bytes_get_data(bytes, &size)) : nullptr;
    if (bytes == nullptr || size == 0) {
        reader.open = false;
        reportExitIfDrained(state, false);
        return;
    }
    if (!reader.discarding && !reader.onChunk(std::string_view(data_, size))) {
        reader.discarding = true;
    }
    readNext(state, which);
}

void readNext(const StateRef& state, ProcessState::Reader ProcessState::*which) {
    ProcessState::Reader& reader = (*state).*which;
    GAsyncReadyCallback done = which == &ProcessState::output ? &chunkRead<&ProcessState::output>
                                                              : &chunkRead<&ProcessState::error>;
    // Text goes above redraws and page loading: the ready line should not wait behind them.
    // Bytes only drained go below them, so a service that floods its pipe cannot starve
    // the window.
    int priority = reader.discarding ? G_PRIORITY_DEFAULT_IDLE : G_PRIORITY_HIGH;
    g_input_stream_read_bytes_async(reader.stream.get(), kReadChunk, priority,
                                    state->cancellable.get(), done, new StateRef(state));
}

void processEnded(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<StateRef> holder(static_cast<StateRef*>(data));
    StateRef state = *holder;
    g_autoptr(GError) error = nullptr;
    if (!g_subprocess_wait_finish(G_SUBPROCESS(source), result, &error)) return;
    if (g_cancellable_is_cancelled(state->cancellable.get())) return;
    GSubprocess* subprocess = G_SUBPROCESS(source);
    state->exited = true;
    state->status = g_subprocess_get_if_exited(subprocess)
                        ? g_subprocess_get_exit_status(subprocess)
                        : g_subprocess_get_term_sig(subprocess);
    if (state->output.open || state->error.open) {
        state->drainTimer = g_timeout_add_full(
            G_PRIORITY_DEFAULT, kDrainAfterExitMs,
            [](gpointer timerData) -> gboolean {
                auto* ref = static_cast<StateRef*>(timerData);
                (*ref)->drainTimer = 0;
                reportExitIfDrained(*ref, true);
                return G_SOURCE_REMOVE;
            },
            new StateRef(state),
            [](gpointer timerData) { delete static_cast<StateRef*>(timerData); });
        return;
    }
    reportExitIfDrained(state, false);
}

// Still alive and not a zombie waiting to be reaped.
bool processIsAlive(pid_t pid) {
    if (pid <= 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

class GioServiceProcess : public ServiceProcess {
public:
    explicit GioServiceProcess(StateRef state) : state_(std::move(state)) {}
    ~GioServiceProcess() override {
        g_cancellable_cancel(state_->cancellable.get());
        state_->onExit = nullptr;
        state_->output.onChunk = nullptr;
        state_->error.onChunk = nullptr;
    }

    bool isRunning() const override { return !state_->exited && processIsAlive(state_->pid); }
    void terminate() override { g_subprocess_send_signal(state_->subprocess.get(), SIGTERM); }
    void interrupt() override { g_subprocess_send_signal(state_->subprocess.get(), SIGINT); }
    // By the identifier taken at the start: the group outlives a leader already reaped.
    void killGroup() override {
        if (state_->pid > 0) kill(-state_->pid, SIGKILL);
    }
    // The pipes are still drained, so a service that is stopping can say its last words.
    void stopReading() override {
        state_->output.discarding = true;
        state_->error.discarding = true;
    }

private:
    StateRef state_;
};

}  // namespace

// Standard input is a pipe the shell never writes to: its end tells the service that the shell
// is gone without the service polling for it.
LaunchOutcome GioServiceLauncher::launch(ServiceLaunch request) {
    GObjectPtr<GSubprocessLauncher> launcher(
        g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                                G_SUBPROCESS_FLAGS_STDERR_PIPE)));

    gchar** environment = g_new0(gchar*, 1);
    for (const auto& [name, value] : request.environment) {
        environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
    }
    g_subprocess_launcher_set_environ(launcher.get(), environment);
    g_strfreev(environment);
    g_subprocess_launcher_set_cwd(launcher.get(), request.workingDirectory.c_str());
    g_subprocess_launcher_set_child_setup(launcher.get(), prepareChild,
                                          GINT_TO_POINTER(static_cast<int>(getpid())), nullptr);

    const gchar* argv[] = {request.executable.c_str(), nullptr};
    g_autoptr(GError) error = nullptr;
    GSubprocess* subprocess = g_subprocess_launcher_spawnv(launcher.get(), argv, &error);
    if (subprocess == nullptr) return {nullptr, error ? error->message : "unknown error"};

    auto state = std::make_shared<ProcessState>();
    state->subprocess = GObjectPtr<GSubprocess>(subprocess);
    // A child that ends at once may already be reaped, and then has no identifier.
    const gchar* identifier = g_subprocess_get_identifier(subprocess);
    state->pid = identifier ? static_cast<pid_t>(g_ascii_strtoll(identifier, nullptr, 10)) : 0;
    state->onExit = std::move(request.onExit);
    state->output = {GObjectPtr<GInputStream>::retain(g_subprocess_get_stdout_pipe(subprocess)),
                     std::move(request.onOutput), true};
    state->error = {GObjectPtr<GInputStream>::retain(g_subprocess_get_stderr_pipe(subprocess)),
                    std::move(request.onError), true};

    readNext(state, &ProcessState::output);
    readNext(state, &ProcessState::error);
    g_subprocess_wait_async(subprocess, state->cancellable.get(), processEnded,
                            new StateRef(state));
    return {std::make_unique<GioServiceProcess>(state), {}};
}

}  // namespace lumory::gtk
