// Runs the built helper against a private PulseAudio server with null sinks.
#include <signal.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "pulse/pulse_client_process.h"
#include "pulse/pulse_server.h"
#include "write_recorder.h"

namespace {

using namespace std::chrono_literals;
using lumory::audio::testing::samplesOf;
using lumory::testsupport::NoPulseServer;
using lumory::testsupport::PulseClientProcess;
using lumory::testsupport::PulseServer;
using lumory::testsupport::runPulseClient;

constexpr int kRate = 24000;
constexpr std::size_t kBytesPerSecond = kRate * 2;
constexpr double kToneAmplitude = 0.4;

const std::string kHelper = LUMORY_AUDIO_HELPER_PATH;

// A 1 kHz float tone at the sink's own rate, long enough to outlast any test.
std::string writeTone(const std::string& folder) {
    std::string path = folder + "/tone.f32";
    std::ofstream file(path, std::ios::binary);
    const int rate = 48000;
    for (int i = 0; i < rate * 30; ++i) {
        float x = static_cast<float>(kToneAmplitude * std::sin(2 * M_PI * 1000.0 * i / rate));
        file.write(reinterpret_cast<const char*>(&x), sizeof x);
    }
    return path;
}

// Plays to the default sink with a short buffer, as a call application would.
std::vector<std::string> playCommand(const std::string& tone) {
    return {"pacat", "--playback", "--raw", "--format=float32le", "--rate=48000", "--channels=1",
            "--latency-msec=20", tone};
}

// Waits until the player's stream has reached the server, so a capture starts on the tone.
void waitForPlayer() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!runPulseClient({"pactl", "list", "short", "sink-inputs"}).output.empty()) break;
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(100ms);
}

double rms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// Frequency from the first to the last rising zero crossing, interpolated between samples.
double frequency(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            double at = double(i - 1) + double(-samples[i - 1]) / double(samples[i] - samples[i - 1]);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * kRate / (last - first);
}

std::size_t longestQuietRun(const std::vector<std::int16_t>& samples, std::size_t from) {
    std::size_t longest = 0, run = 0;
    for (std::size_t i = from; i < samples.size(); ++i) {
        run = std::abs(samples[i]) < 300 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// A private server whose default sink plays the tone, and the helper capturing it.
class PulseCapture : public ::testing::Test {
protected:
    void start(std::vector<std::string> sinks = {"testsink"}) {
        server.emplace(std::move(sinks));
        ASSERT_TRUE(server->ready()) << server->failure();
        player.emplace(playCommand(writeTone(server->folder())));
        waitForPlayer();
        capture.emplace(std::vector<std::string>{kHelper, "capture"});
    }

    std::optional<PulseServer> server;
    std::optional<PulseClientProcess> player;
    std::optional<PulseClientProcess> capture;
};

TEST(PulseStatus, GrantedOnlyWithAServerThatHasAnOutputToMonitor) {
    {
        PulseServer server;
        ASSERT_TRUE(server.ready()) << server.failure();
        auto result = runPulseClient({kHelper, "status"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, "{\"status\":\"granted\"}\n");
        EXPECT_EQ(result.error, "");
    }
    {
        PulseServer server(std::vector<std::string>{});
        ASSERT_TRUE(server.ready()) << server.failure();
        auto result = runPulseClient({kHelper, "status"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, "{\"status\":\"denied\"}\n");
    }
    {
        NoPulseServer none;
        auto result = runPulseClient({kHelper, "status"});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output, "{\"status\":\"denied\"}\n");
        EXPECT_EQ(result.error, "");
        const char* runtime = std::getenv("PULSE_RUNTIME_PATH");
        ASSERT_NE(runtime, nullptr);
        EXPECT_FALSE(std::filesystem::exists(std::string(runtime) + "/native"))
            << "asking for the status must not start a sound server";
    }
}

TEST_F(PulseCapture, WithoutServerOrOutputEndsWithTheMessage) {
    {
        NoPulseServer none;
        auto result = runPulseClient({kHelper, "capture"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.error,
                  "Screen Recording permission was refused. Grant it in System Settings \u2192 Privacy & "
                  "Security \u2192 Screen Recording.\n");
    }
    {
        PulseServer server(std::vector<std::string>{});
        ASSERT_TRUE(server.ready()) << server.failure();
        auto result = runPulseClient({kHelper, "capture"});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.error, "no display to capture audio from\n");
    }
}

TEST_F(PulseCapture, SinePlayedIntoTheSinkComesBackFromTheFirstByte) {
    ASSERT_NO_FATAL_FAILURE(start());

    const std::string& output = capture->readOutput(kBytesPerSecond, 15s);
    ASSERT_GE(output.size(), kBytesPerSecond) << capture->errorText();
    std::vector<std::int16_t> samples = samplesOf(output);

    // No header: the tone fills the stream from its first sample on.
    const double peak = kToneAmplitude * 32767;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_LE(std::abs(samples[i]), peak * 1.1) << "sample " << i;
    }
    EXPECT_NEAR(frequency(samples, 0, kRate / 10), 1000.0, 20.0);

    EXPECT_NEAR(frequency(samples, kRate / 10, samples.size()), 1000.0, 2.0);
    EXPECT_NEAR(rms(samples, kRate / 10, samples.size()), peak / std::sqrt(2.0), peak * 0.05);
    EXPECT_EQ(capture->errorText(), "");
}

TEST_F(PulseCapture, FollowsTheUserToANewDefaultOutput) {
    ASSERT_NO_FATAL_FAILURE(start({"speakers", "headset"}));

    std::size_t before = capture->readOutput(kBytesPerSecond / 2, 15s).size();
    ASSERT_GE(before, kBytesPerSecond / 2) << capture->errorText();

    // Switching the default moves the player to the headset; the speakers fall silent.
    ASSERT_TRUE(server->pactl({"set-default-sink", "headset"}));
    const std::string& output = capture->readOutput(before + kBytesPerSecond * 3 / 2, 15s);
    std::vector<std::int16_t> samples = samplesOf(output);
    ASSERT_GE(samples.size(), (before + kBytesPerSecond) / 2);

    const double toneRms = kToneAmplitude * 32767 / std::sqrt(2.0);
    EXPECT_NEAR(rms(samples, samples.size() - kRate / 2, samples.size()), toneRms, toneRms * 0.1)
        << "the tone on the new default output must be recorded";
    std::size_t quiet = longestQuietRun(samples, 0);
    EXPECT_LT(quiet, std::size_t(kRate / 4)) << "silence at the switch, in samples";
    RecordProperty("quiet_samples_at_switch", static_cast<int>(quiet));

    auto outputs = runPulseClient({"pactl", "list", "short", "source-outputs"});
    EXPECT_EQ(std::count(outputs.output.begin(), outputs.output.end(), '\n'), 1)
        << "the old device's recording must be let go:\n" << outputs.output;
}

TEST_F(PulseCapture, AnUnpluggedOutputHandsOverToTheNextDefault) {
    ASSERT_NO_FATAL_FAILURE(start({"headset", "speakers"}));
    std::size_t before = capture->readOutput(kBytesPerSecond / 2, 15s).size();
    ASSERT_GE(before, kBytesPerSecond / 2) << capture->errorText();

    ASSERT_TRUE(server->removeSink("headset"));
    std::vector<std::int16_t> samples =
        samplesOf(capture->readOutput(before + kBytesPerSecond * 3 / 2, 15s));
    ASSERT_GE(samples.size(), (before + kBytesPerSecond) / 2) << capture->errorText();
    const double toneRms = kToneAmplitude * 32767 / std::sqrt(2.0);
    EXPECT_NEAR(rms(samples, samples.size() - kRate / 2, samples.size()), toneRms, toneRms * 0.1);
    EXPECT_EQ(capture->errorText(), "");
}

TEST_F(PulseCapture, LosingTheServerEndsWithTheMessage) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_GE(capture->readOutput(4800, 15s).size(), 4800u) << capture->errorText();

    server->kill();
    std::optional<int> code = capture->waitForExit(10s);
    ASSERT_TRUE(code.has_value()) << "the helper kept running without its server";
    EXPECT_EQ(*code, 1);
    std::string message = capture->errorText();
    EXPECT_EQ(message.rfind("capture stopped: ", 0), 0u) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_EQ(message.back(), '\n');
}

TEST_F(PulseCapture, AReaderThatLeavesEndsItQuietly) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_GE(capture->readOutput(4800, 15s).size(), 4800u) << capture->errorText();

    capture->closeOutput();
    std::optional<int> code = capture->waitForExit(5s);
    ASSERT_TRUE(code.has_value()) << "the helper kept running without its reader";
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(capture->errorText(), "");
}

}  // namespace
