// The live overlay of the real shell with the reference service, on a private display and a
// private sound server whose default output is a null sink:
// - CPU of the shell's whole tree with a steady tone playing, overlay closed and then open with
//   its meter moving (what the open meter costs);
// - the lag from a burst of sound written to the player to the meter moving on screen, against
//   parec reading the same monitor in the same run.
// The meter is watched where a user sees it, in the display's pixels, so the product runs as
// shipped.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <libsoup/soup.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "../bench_report.h"
#include "gobject_ptr.h"
#include "overlay_measure.h"
#include "process_tree.h"
#include "pulse/pulse_client_process.h"
#include "pulse/pulse_server.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_shell.h"
#include "xvfb/xvfb_windows.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using lumory::bench::percentile;
using lumory::testing::ShellUnderTest;
using lumory::testing::WindowGeometry;
using lumory::testing::XvfbDisplay;
using lumory::testsupport::PulseClientProcess;
using lumory::testsupport::PulseServer;

namespace {

constexpr char kMainTitle[] = "Lumory";
constexpr char kOverlayTitle[] = "Lumory live overlay";
constexpr int kRate = 48000;
constexpr int kChunkFrames = kRate / 100;  // 10 ms
constexpr auto kChunk = 10ms;
constexpr auto kWindow = 5s;           // one CPU sample
// After the load, as for the idle figures: the page's start-up work and the service's JIT warming.
constexpr auto kLoadSettle = 10s;
constexpr auto kSettle = 5s;           // after the opening, before measuring
constexpr auto kBurstLength = 100ms;   // fills at least one of the meter's 50 ms blocks
constexpr auto kBurstGap = 2200ms;     // past the meter's 1.5 s peak hold
constexpr auto kStill = 300ms;         // the meter's row unchanged this long before a burst
constexpr auto kPollEvery = 2ms;       // how often the meter's row is read from the display
constexpr auto kMissedAfter = 1500ms;  // a burst the meter did not show by then counts as missed

int envCount(const char* name, int fallback) {
    const char* value = std::getenv(name);
    int count = value ? std::atoi(value) : 0;
    return count > 0 ? count : fallback;
}

double millisBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Pixels of a rectangle of the display, as 0xRRGGBB.
class DisplayPixels {
public:
    explicit DisplayPixels(const std::string& name) : display_(XOpenDisplay(name.c_str())) {}
    ~DisplayPixels() {
        if (display_) XCloseDisplay(display_);
    }
    DisplayPixels(const DisplayPixels&) = delete;
    DisplayPixels& operator=(const DisplayPixels&) = delete;
    bool connected() const { return display_ != nullptr; }

    std::vector<uint32_t> grab(int x, int y, int width, int height) {
        std::vector<uint32_t> pixels;
        XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, width, height,
                                  AllPlanes, ZPixmap);
        if (!image) return pixels;
        pixels.reserve(size_t(width) * height);
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column)
                pixels.push_back(XGetPixel(image, column, row) & 0xffffff);
        }
        XDestroyImage(image);
        return pixels;
    }

private:
    Display* display_;
};

// The centre of the reddish dot of the page's "Live" button, the only such red in the top bar.
std::optional<std::pair<int, int>> liveButton(DisplayPixels& screen, const WindowGeometry& window) {
    auto centre = lumory::bench::redDotCentre(
        screen.grab(window.x, window.y, window.width, std::min(window.height, 120)), window.width);
    if (!centre) return std::nullopt;
    return std::make_pair(window.x + centre->first, window.y + centre->second);
}

// Paces 10 ms chunks into a pacat playing on the default output, so a chunk plays about when it
// is written: a steady tone, silence, or bursts whose start times are kept.
class Player {
public:
    Player() {
        int fds[2];
        if (pipe(fds) != 0) return;
        process_.emplace(std::vector<std::string>{
            "sh", "-c",
            "exec pacat --playback --raw --format=s16le --rate=48000 --channels=1 "
            "--latency-msec=10 <&" + std::to_string(fds[0])});
        close(fds[0]);
        feed_ = fds[1];
        fcntl(feed_, F_SETFL, fcntl(feed_, F_GETFL) | O_NONBLOCK);
        next_ = Clock::now();
    }
    ~Player() {
        if (feed_ >= 0) close(feed_);
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    bool started() const { return feed_ >= 0 && process_ && process_->started(); }
    void setTone(bool on) { tone_ = on; }
    // Starts a burst with the next chunk; the time its first chunk is written is returned by
    // pump() once it is.
    void burst() { burstChunks_ = int(kBurstLength / kChunk); }

    // Writes the chunks that are due; the write time of a burst's first chunk when one started.
    // A chunk that finds the player still holding one is dropped rather than queued: queued
    // chunks would delay every later one, bursts included, by however far the player lags.
    std::optional<Clock::time_point> pump() {
        std::optional<Clock::time_point> started;
        auto now = Clock::now();
        if (now - next_ > 50ms) next_ = now;  // after a pause, no backlog
        for (; now >= next_; next_ += kChunk, now = Clock::now()) {
            int queued = 0;
            if (ioctl(feed_, FIONREAD, &queued) == 0 && queued >= int(sizeof chunk_)) {
                ++dropped_;
                continue;
            }
            bool loud = tone_ || burstChunks_ > 0;
            for (int index = 0; index < kChunkFrames; ++index, ++phase_) {
                double wave = std::sin(2 * M_PI * 1000.0 * double(phase_) / kRate);
                chunk_[index] = loud ? int16_t(16000 * wave) : 0;
            }
            if (write(feed_, chunk_, sizeof chunk_) != ssize_t(sizeof chunk_)) {
                ++dropped_;
                continue;
            }
            if (burstChunks_ == int(kBurstLength / kChunk)) started = now;
            if (burstChunks_ > 0) --burstChunks_;
        }
        return started;
    }
    long dropped() const { return dropped_; }
    Clock::time_point nextWrite() const { return next_; }

    // Keeps playing for `duration`.
    void playFor(std::chrono::milliseconds duration) {
        auto until = Clock::now() + duration;
        while (Clock::now() < until) {
            pump();
            std::this_thread::sleep_until(std::min(next_, until));
        }
    }

private:
    std::optional<PulseClientProcess> process_;
    int feed_ = -1;
    Clock::time_point next_;
    bool tone_ = false;
    int burstChunks_ = 0;
    long dropped_ = 0;
    size_t phase_ = 0;
    int16_t chunk_[kChunkFrames] = {};
};

// Run time in ns of each live thread of each process of the tree, from the scheduler's own
// counts: clock ticks (10 ms) cannot resolve the closed tree's few ms per second in 5 s.
struct TreeRunTime {
    std::map<pid_t, std::string> names;
    std::map<pid_t, std::map<pid_t, double>> threads;  // by process, then thread

    static TreeRunTime read(pid_t root) {
        TreeRunTime snapshot;
        for (pid_t pid : lumory::bench::processTree(root)) {
            snapshot.names[pid] = lumory::bench::processName(pid);
            std::error_code ignored;
            for (const auto& task : std::filesystem::directory_iterator(
                     "/proc/" + std::to_string(pid) + "/task", ignored)) {
                std::ifstream file(task.path() / "schedstat");
                double nanoseconds = 0;
                if (file >> nanoseconds)
                    snapshot.threads[pid][std::atoi(task.path().filename().c_str())] = nanoseconds;
            }
        }
        return snapshot;
    }
};

// CPU ms per second of the shell's whole tree, one sample per window, while the player plays.
// Threads that end within a window are not counted; those that start count from zero.
std::vector<double> treeCpu(pid_t root, Player& player, int seconds, const char* label) {
    std::vector<double> samples;
    const int windows = std::max(1, seconds / int(kWindow.count()));
    for (int window = 0; window < windows; ++window) {
        auto before = TreeRunTime::read(root);
        auto started = Clock::now();
        player.playFor(kWindow);
        auto after = TreeRunTime::read(root);
        double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        double totalMs = 0;
        for (const auto& [pid, threads] : after.threads) {
            double ms = 0;
            for (const auto& [tid, nanoseconds] : threads) {
                double earlier = 0;
                if (auto process = before.threads.find(pid); process != before.threads.end()) {
                    if (auto thread = process->second.find(tid); thread != process->second.end())
                        earlier = thread->second;
                }
                ms += (nanoseconds - earlier) / 1e6;
            }
            std::printf("  %s: %-20s pid %-7d %7.2f ms CPU/s\n", label, after.names[pid].c_str(),
                        pid, ms / elapsed);
            totalMs += ms;
        }
        samples.push_back(totalMs / elapsed);
        std::printf("%s: %.2f ms CPU/s over %.1f s\n", label, samples.back(), elapsed);
    }
    std::fflush(stdout);
    return samples;
}

// The levels the service streams to the overlay page, read by one more listener beside the page,
// so the lag splits into the service's share and the page's: when a level or its peak rose above
// the meter's floor (-60 dB) after one at or below it.
class LevelStream {
public:
    explicit LevelStream(const std::string& address)
        : cancellable_(lumory::GObjectPtr<GCancellable>::adopt(g_cancellable_new())) {
        thread_ = std::thread([this, address] { read(address); });
    }
    ~LevelStream() {
        g_cancellable_cancel(cancellable_.get());
        thread_.join();
    }
    LevelStream(const LevelStream&) = delete;
    LevelStream& operator=(const LevelStream&) = delete;

    std::vector<Clock::time_point> onsets() {
        std::lock_guard lock(mutex_);
        return onsets_;
    }

private:
    void read(const std::string& address) {
        g_autoptr(SoupSession) session = soup_session_new();
        g_autoptr(SoupMessage) message = soup_message_new("GET", address.c_str());
        if (!message) return;
        g_autoptr(GInputStream) body =
            soup_session_send(session, message, cancellable_.get(), nullptr);
        if (!body) return;
        std::string pending;
        bool level = false, quiet = true;
        char buffer[4096];
        gssize count;
        while ((count = g_input_stream_read(body, buffer, sizeof buffer, cancellable_.get(),
                                            nullptr)) > 0) {
            auto now = Clock::now();
            pending.append(buffer, size_t(count));
            size_t lineFeed;
            while ((lineFeed = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, lineFeed);
                pending.erase(0, lineFeed + 1);
                if (line.rfind("event: ", 0) == 0) level = line == "event: level";
                if (!level || line.rfind("data: ", 0) != 0) continue;
                auto value = nlohmann::json::parse(line.substr(6), nullptr, false);
                if (!value.is_object() || !value.contains("db") || !value["db"].is_number())
                    continue;
                // The page moves the bar with the level and its marker with the peak.
                double peak = value.value("peak", 0.0);
                bool loud = value["db"].get<double>() > -60 || peak > 0.001;
                if (loud && quiet) {
                    std::lock_guard lock(mutex_);
                    onsets_.push_back(now);
                }
                quiet = !loud;
            }
        }
    }

    lumory::GObjectPtr<GCancellable> cancellable_;
    std::mutex mutex_;
    std::vector<Clock::time_point> onsets_;
    std::thread thread_;
};

struct LagResult {
    std::vector<double> meter;
    std::vector<double> parec;
    std::vector<double> service;
    int missed = 0;
};

// Plays `bursts` bursts into silence and times each to the meter's row changing on screen and
// to parec seeing it. `row` is the overlay's screen row where the meter is.
LagResult meterLag(DisplayPixels& screen, const WindowGeometry& overlay, int row, Player& player,
                   int bursts, const std::string& levelsAddress) {
    LagResult result;
    LevelStream levels(levelsAddress);
    PulseClientProcess parec({"parec", "--format=s16le", "--rate=24000", "--channels=1",
                              "--latency-msec=20", "-d", "@DEFAULT_MONITOR@"});
    // Loud after 100 ms of quiet, at parec's 24 kHz.
    lumory::bench::SoundOnsets onsets(2400);
    const int parecFd = parec.outputFd();
    if (parecFd >= 0) fcntl(parecFd, F_SETFL, fcntl(parecFd, F_GETFL) | O_NONBLOCK);
    auto readParec = [&] {
        char buffer[16384];
        ssize_t count;
        while (parecFd >= 0 && (count = read(parecFd, buffer, sizeof buffer)) > 0)
            onsets.consume(buffer, size_t(count), Clock::now());
    };
    player.setTone(false);

    std::vector<Clock::time_point> started;
    std::vector<uint32_t> still = screen.grab(overlay.x, row, overlay.width, 1);
    auto stillSince = Clock::now();
    auto lastBurst = Clock::now() - kBurstGap;
    bool waiting = false;  // for the meter to show the last burst
    auto nextPoll = Clock::now();
    const auto giveUp = Clock::now() + bursts * (kBurstGap + kMissedAfter) + 10s;
    while ((int(started.size()) < bursts || waiting) && Clock::now() < giveUp) {
        if (auto burst = player.pump()) {
            started.push_back(*burst);
            lastBurst = *burst;
            waiting = true;
        }
        auto now = Clock::now();
        if (now >= nextPoll) {
            nextPoll = now + kPollEvery;
            auto pixels = screen.grab(overlay.x, row, overlay.width, 1);
            auto seen = Clock::now();
            // A few pixels can flicker with anti-aliasing; the meter moves many.
            if (lumory::bench::differingPixels(pixels, still) >= 3) {
                if (waiting) {
                    result.meter.push_back(millisBetween(started.back(), seen));
                    waiting = false;
                }
                still = std::move(pixels);
                stillSince = seen;
            } else if (waiting && seen - started.back() > kMissedAfter) {
                ++result.missed;
                waiting = false;
            }
        }
        if (!waiting && int(started.size()) < bursts && now - stillSince >= kStill &&
            now - lastBurst >= kBurstGap) {
            player.burst();
        }
        readParec();
        auto wake = std::min(player.nextWrite(), nextPoll);
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        pollfd poller{parecFd, POLLIN, 0};
        poll(&poller, parecFd >= 0 ? 1 : 0, int(std::max<long>(0, wait.count())));
    }
    player.playFor(300ms);
    readParec();
    result.parec = lumory::bench::delaysAfterBursts(started, onsets.onsets());
    result.service = lumory::bench::delaysAfterBursts(started, levels.onsets());
    return result;
}

// The screen row of the overlay where playing and silence differ most: the meter's bar.
std::optional<int> meterRow(DisplayPixels& screen, const WindowGeometry& overlay, Player& player) {
    player.setTone(true);
    player.playFor(1s);
    auto loud = screen.grab(overlay.x, overlay.y, overlay.width, overlay.height);
    player.setTone(false);
    player.playFor(2500ms);  // past the peak hold
    auto quiet = screen.grab(overlay.x, overlay.y, overlay.width, overlay.height);
    auto row = lumory::bench::busiestRow(loud, quiet, overlay.width);
    if (!row) return std::nullopt;
    std::printf("meter row: %d of the overlay, %d pixels differ between tone and silence\n",
                row->first, row->second);
    if (row->second < 20) return std::nullopt;
    return overlay.y + row->first;
}

}  // namespace

int main() {
    // The log shows how far a run got, should it be stopped.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    XvfbDisplay display;
    if (!display.started()) {
        std::cerr << "Xvfb did not start\n";
        return 1;
    }
    PulseServer server({"speakers"});
    if (!server.ready()) {
        std::cerr << "no private sound server: " << server.failure() << "\n";
        return 1;
    }
    const int seconds = envCount("LUMORY_BENCH_OVERLAY_SECONDS", 20);
    const int bursts = envCount("LUMORY_BENCH_OVERLAY_BURSTS", 24);

    Player player;
    ShellUnderTest shell(LUMORY_SHELL_BINARY, LUMORY_REFERENCE_SERVICE);
    shell.addHelper(LUMORY_AUDIO_HELPER);
    const char* pulseServer = std::getenv("PULSE_SERVER");
    const char* pulseConfig = std::getenv("PULSE_CLIENTCONFIG");
    if (!player.started() || !pulseServer || !pulseConfig ||
        !shell.start(display, {"LUMORY_DESKTOP_PORT=0", std::string("PULSE_SERVER=") + pulseServer,
                               std::string("PULSE_CLIENTCONFIG=") + pulseConfig})) {
        std::cerr << "the player or the shell did not start\n";
        return 1;
    }
    auto loaded = shell.waitForProbe(lumory::testing::isServicePage, 30s);
    if (!loaded) {
        std::cerr << "the shell's page did not load: " << shell.standardError() << "\n";
        return 1;
    }
    // The page's address carries the service's secret path; the levels are beside it.
    g_autofree char* resolved = g_uri_resolve_relative(loaded->value("url", "").c_str(),
                                                       "api/live", G_URI_FLAGS_NONE, nullptr);
    if (!resolved) {
        std::cerr << "the page's address is not a URL: " << loaded->dump() << "\n";
        return 1;
    }
    const std::string levelsAddress = resolved;
    std::printf("page loaded; a steady tone plays\n");
    player.setTone(true);
    player.playFor(kLoadSettle);

    // Closed: the same tone plays, nothing listens to it.
    auto closed = treeCpu(shell.pid(), player, seconds, "overlay closed");
    bool sampledWhileClosed = false;
    for (pid_t pid : lumory::bench::processTree(shell.pid()))
        sampledWhileClosed |= lumory::bench::processName(pid) == "lumory-audio";
    std::printf("overlay closed, audio helper %s\n",
                sampledWhileClosed ? "RUNNING" : "not running");

    DisplayPixels screen(display.name());
    lumory::testing::XvfbInput input(display.name());
    auto main = lumory::testing::findWindow(display.name(), kMainTitle);
    auto button = main && screen.connected() ? liveButton(screen, *main) : std::nullopt;
    if (!button || !input.connected()) {
        std::cerr << "the page's Live button was not found on screen\n";
        return 1;
    }
    std::optional<WindowGeometry> overlay;
    for (int attempt = 0; attempt < 3 && !overlay; ++attempt) {
        input.click(1, button->first, button->second);
        for (auto until = Clock::now() + 10s; !overlay && Clock::now() < until;) {
            player.playFor(200ms);
            overlay = lumory::testing::findWindow(display.name(), kOverlayTitle);
        }
    }
    if (!overlay) {
        std::cerr << "the overlay did not open: " << shell.standardError() << "\n";
        return 1;
    }
    std::printf("overlay open at %d,%d, %d x %d\n", overlay->x, overlay->y, overlay->width,
                overlay->height);
    player.playFor(kSettle);
    auto open = treeCpu(shell.pid(), player, seconds, "overlay open");

    auto row = meterRow(screen, *overlay, player);
    if (!row) {
        std::cerr << "the meter did not move with the tone\n";
        return 1;
    }
    LagResult lag = meterLag(screen, *overlay, *row, player, bursts, levelsAddress);
    std::printf("meter lag: %zu of %d bursts shown (%d missed), p50 %.1f ms, p95 %.1f ms, "
                "max %.1f ms\n",
                lag.meter.size(), bursts, lag.missed, percentile(lag.meter, 0.5),
                percentile(lag.meter, 0.95), percentile(lag.meter, 1.0));
    std::printf("parec: %zu onsets, p50 %.1f ms, p95 %.1f ms\n", lag.parec.size(),
                percentile(lag.parec, 0.5), percentile(lag.parec, 0.95));
    std::printf("service's level stream: %zu onsets, p50 %.1f ms, p95 %.1f ms\n",
                lag.service.size(), percentile(lag.service, 0.5), percentile(lag.service, 0.95));
    std::printf("player: %ld chunks of 10 ms dropped while it lagged\n", player.dropped());
    shell.stop(5s);

    lumory::bench::reportFigure("overlay open tree CPU", "ms/s", open, closed);
    lumory::bench::reportFigure("overlay meter lag", "ms", lag.meter, lag.parec);
    lumory::bench::reportFigure("overlay level stream lag", "ms", lag.service, lag.parec);
    lumory::bench::reportFigure("overlay meter lag, p95", "ms", {percentile(lag.meter, 0.95)},
                                {percentile(lag.parec, 0.95)});
    return sampledWhileClosed || lag.meter.size() < 20 || open.empty() ? 1 : 0;
}
