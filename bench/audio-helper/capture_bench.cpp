// The helper side by side with parec on one private server in the same run: CPU time per second
// of audio, and latency from playing a burst to reading it from each one's standard output.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../bench_report.h"
#include "pulse/pulse_client_process.h"
#include "pulse/pulse_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using lumory::testsupport::PulseClientProcess;
using lumory::testsupport::PulseServer;

constexpr int kPlayRate = 48000;
constexpr auto kChunk = 10ms;
constexpr int kChunkFrames = kPlayRate / 100;
constexpr auto kBurstEvery = 500ms;
constexpr auto kRunFor = 12s;
// Near the end the default output changes, and the player moves with it.
constexpr auto kSwitchAfter = 8s;

// CPU seconds the process has run so far, from the scheduler's nanosecond counts of its threads
// (the tick counts in /proc/PID/stat are too coarse for a process this quiet).
double cpuSeconds(pid_t pid) {
    double total = 0;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(pid) + "/task", ignored)) {
        std::ifstream file(task.path() / "schedstat");
        unsigned long long runNanoseconds = 0;
        if (file >> runNanoseconds) total += double(runNanoseconds) / 1e9;
    }
    return total;
}

// Follows one reader's stream and notes when each burst's first loud sample was read.
struct Reader {
    Reader(const char* readerName, PulseClientProcess& child)
        : name(readerName), process(&child), fd(child.outputFd()) {}

    const char* name;
    PulseClientProcess* process;
    int fd;
    std::string pending;
    std::size_t samples = 0;
    std::size_t samplesAtSwitch = 0;
    double cpuAtSwitch = 0;
    std::size_t quietRun = 0;
    std::vector<Clock::time_point> onsets;

    void consume(const char* data, std::size_t size, Clock::time_point now) {
        pending.append(data, size);
        std::size_t whole = pending.size() / 2 * 2;
        for (std::size_t i = 0; i < whole; i += 2) {
            auto value = static_cast<std::int16_t>(static_cast<std::uint8_t>(pending[i]) |
                                                   (static_cast<std::uint8_t>(pending[i + 1]) << 8));
            if (std::abs(value) > 3000) {
                if (quietRun > 2400) onsets.push_back(now);
                quietRun = 0;
            } else {
                ++quietRun;
            }
            ++samples;
        }
        pending.erase(0, whole);
    }
};

double median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    PulseServer server({"speakers", "headset"});
    if (!server.ready()) {
        std::fprintf(stderr, "no private server: %s\n", server.failure().c_str());
        return 1;
    }
    // The player reads what we pace into a pipe, so a burst's play time is when we wrote it.
    int feed[2];
    if (pipe(feed) != 0) return 1;
    PulseClientProcess player({"sh", "-c",
                               "exec pacat --playback --raw --format=s16le --rate=48000 "
                               "--channels=1 --latency-msec=10 <&" + std::to_string(feed[0])});
    close(feed[0]);
    std::this_thread::sleep_for(200ms);

    PulseClientProcess helper({LUMORY_AUDIO_HELPER_PATH, "capture"});
    // The helper asks for 20 ms fragments (with latency adjustment); parec the same.
    PulseClientProcess parec({"parec", "--format=s16le", "--rate=24000", "--channels=1",
                              "--latency-msec=20", "-d", "@DEFAULT_MONITOR@"});

    Reader readers[] = {Reader("lumory-audio", helper), Reader("parec", parec)};

    std::vector<Clock::time_point> bursts;
    std::vector<std::int16_t> chunk(kChunkFrames);
    const auto start = Clock::now();
    auto nextWrite = start;
    auto nextBurst = start + 1s;
    int burstChunksLeft = 0;
    std::size_t phase = 0;
    char buffer[65536];
    Clock::time_point switchedAt = Clock::time_point::max();
    while (Clock::now() - start < kRunFor) {
        auto now = Clock::now();
        if (switchedAt == Clock::time_point::max() && now - start >= kSwitchAfter) {
            for (Reader& reader : readers) {
                reader.samplesAtSwitch = reader.samples;
                reader.cpuAtSwitch = cpuSeconds(reader.process->pid());
            }
            server.pactl({"set-default-sink", "headset"});
            switchedAt = Clock::now();
            nextWrite = switchedAt;
        }
        if (now >= nextWrite) {
            if (now >= nextBurst) {
                bursts.push_back(now);
                burstChunksLeft = 2;
                nextBurst += kBurstEvery;
            }
            for (int i = 0; i < kChunkFrames; ++i, ++phase) {
                chunk[i] = burstChunksLeft > 0
                               ? static_cast<std::int16_t>(16000 * std::sin(2 * M_PI * 1000.0 *
                                                                            double(phase) / kPlayRate))
                               : 0;
            }
            if (burstChunksLeft > 0) --burstChunksLeft;
            if (write(feed[1], chunk.data(), chunk.size() * 2) < 0) break;
            nextWrite += kChunk;
        }
        pollfd fds[2] = {{readers[0].fd, POLLIN, 0}, {readers[1].fd, POLLIN, 0}};
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextWrite - Clock::now());
        poll(fds, 2, static_cast<int>(std::max<long>(0, wait.count())));
        for (int r = 0; r < 2; ++r) {
            if (!(fds[r].revents & POLLIN)) continue;
            ssize_t n = read(readers[r].fd, buffer, sizeof buffer);
            if (n > 0) readers[r].consume(buffer, static_cast<std::size_t>(n), Clock::now());
        }
    }

    std::printf("run of %lld s, a 20 ms burst every %lld ms, default output changed after %lld s\n",
                static_cast<long long>(std::chrono::seconds(kRunFor).count()),
                static_cast<long long>(kBurstEvery.count()),
                static_cast<long long>(std::chrono::seconds(kSwitchAfter).count()));
    auto burstsAfterSwitch = bursts.end() - std::upper_bound(bursts.begin(), bursts.end(), switchedAt);
    double results[2][2];
    for (int r = 0; r < 2; ++r) {
        Reader& reader = readers[r];
        // CPU is counted up to the change, so both ran the same steady recording.
        double audioSeconds = double(reader.samplesAtSwitch) / 24000.0;
        double cpu = reader.cpuAtSwitch;
        std::vector<double> latencies;
        long seenAfterSwitch = 0;
        for (Clock::time_point onset : reader.onsets) {
            if (onset > switchedAt) {
                ++seenAfterSwitch;
                continue;
            }
            // Pair each onset with the last burst played before it.
            auto played = std::upper_bound(bursts.begin(), bursts.end(), onset);
            if (played == bursts.begin()) continue;
            latencies.push_back(std::chrono::duration<double, std::milli>(onset - *(played - 1)).count());
        }
        results[r][0] = audioSeconds > 0 ? cpu / audioSeconds * 1000 : NAN;
        results[r][1] = median(latencies);
        std::printf("%-13s audio %.2f s, CPU %.2f ms per second of audio, latency median %.1f ms "
                    "(%zu bursts seen before the change), %ld of %ld bursts seen after it\n",
                    reader.name, audioSeconds, results[r][0], results[r][1], latencies.size(),
                    seenAfterSwitch, static_cast<long>(burstsAfterSwitch));
    }
    std::printf("ratio lumory-audio/parec: CPU %.2f, latency %.2f\n", results[0][0] / results[1][0],
                results[0][1] / results[1][1]);
    lumory::bench::reportFigure("audio capture CPU", "ms per s of audio", {results[0][0]},
                                {results[1][0]});
    lumory::bench::reportFigure("audio capture latency", "ms", {results[0][1]}, {results[1][1]});
    close(feed[1]);
    return 0;
}
