#include "capture.h"

#include <csignal>

#include <gtest/gtest.h>

#include "fake_audio_source.h"
#include "write_recorder.h"

namespace {

using namespace lumory::audio;
using lumory::audio::testing::FakeAudioSource;
using lumory::audio::testing::floatBytes;
using lumory::audio::testing::samplesOf;
using lumory::audio::testing::WriteRecorder;

class CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    CaptureEnd runCapture() {
        Output out(recorder.writeEnd());
        return capture(source, out);
    }

    static void deliver(AudioSourceEvents& events, StreamId stream, std::vector<float> values) {
        std::vector<std::byte> bytes = floatBytes(values);
        events.samplesDelivered(stream, bytes);
    }

    FakeAudioSource source;
    WriteRecorder recorder;
};

TEST_F(CaptureTest, RefusedConnectionGivesThePermissionMessage) {
    source.connectError = "Connection refused";
    CaptureEnd end = runCapture();
    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_EQ(end.message,
              "Screen Recording permission was refused. Grant it in System Settings \u2192 Privacy & "
              "Security \u2192 Screen Recording.");
    EXPECT_TRUE(source.opened.empty());
    EXPECT_TRUE(recorder.writes().empty());
}

TEST_F(CaptureTest, StartFailuresEndWithTheirMessages) {
    source.monitor.reset();
    EXPECT_EQ(runCapture().message, "no display to capture audio from");

    FakeAudioSource refusing;
    refusing.refusedMonitors["speakers.monitor"] = "No such entity";
    Output out(recorder.writeEnd());
    CaptureEnd refused = capture(refusing, out);
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.message, "could not start capture: No such entity");

    FakeAudioSource failing;
    failing.script = [](AudioSourceEvents& events) { events.streamFailed(1, "Access denied"); };
    CaptureEnd failed = capture(failing, out);
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_EQ(failed.message, "could not start capture: Access denied");
    EXPECT_TRUE(failing.quitCalled);
    EXPECT_TRUE(recorder.writes().empty());
}

TEST_F(CaptureTest, WritesEachBufferOnceConvertedAndInOrder) {
    source.script = [](AudioSourceEvents& events) {
        events.streamStarted(1);
        deliver(events, 1, {0.5f, -0.5f, 1.5f});
        std::vector<std::byte> big(4096);
        events.samplesDelivered(1, big);
        std::vector<std::byte> six = floatBytes({-1.0f, 0.0f});
        events.samplesDelivered(1, std::span(six).first(6));
        events.samplesDelivered(1, std::span(six).first(3));
        deliver(events, 1, {0.25f});
        events.serverLost("Connection terminated");
    };
    CaptureEnd end = runCapture();
    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_EQ(end.message, "capture stopped: Connection terminated");

    std::vector<std::string> writes = recorder.writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(samplesOf(writes[0]), (std::vector<std::int16_t>{16383, -16383, 32767}));
    EXPECT_EQ(writes[0].substr(0, 2), std::string("\xff\x3f", 2)) << "little-endian";
    EXPECT_EQ(writes[1].size(), 2048u);
    EXPECT_EQ(samplesOf(writes[2]), (std::vector<std::int16_t>{-32767}));
    EXPECT_EQ(samplesOf(writes[3]), (std::vector<std::int16_t>{8191}));
}

TEST_F(CaptureTest, ClosedReaderEndsQuietly) {
    int deliveredAfterQuit = 0;
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        recorder.closeReader();
        deliver(events, 1, {0.1f});
        if (source.quitCalled) ++deliveredAfterQuit;
    };
    CaptureEnd end = runCapture();
    EXPECT_EQ(end.exitStatus, 0);
    EXPECT_EQ(end.message, "");
    EXPECT_EQ(deliveredAfterQuit, 1);
}

TEST_F(CaptureTest, BrokenOutputIsReportedAsStopped) {
    source.script = [](AudioSourceEvents& events) {
        events.streamStarted(1);
        deliver(events, 1, {0.1f});
    };
    Output broken(-1);
    CaptureEnd end = capture(source, broken);
    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_EQ(end.message, "capture stopped: Bad file descriptor");
}

// The user moves the output to a headset: the old device keeps being recorded until the new one
// delivers, so nothing between the two is lost, and the old one is then let go.
TEST_F(CaptureTest, FollowsANewDefaultOutputOnceItDelivers) {
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        deliver(events, 1, {0.1f});
        events.defaultMonitorChanged("headset.monitor");
        EXPECT_EQ(source.openMonitors(),
                  (std::vector<std::string>{"speakers.monitor", "headset.monitor"}));
        deliver(events, 1, {0.2f});
        events.streamStarted(2);
        deliver(events, 2, {0.3f});
        EXPECT_EQ(source.openMonitors(), (std::vector<std::string>{"headset.monitor"}));
        deliver(events, 1, {0.9f});  // still queued for the old device
        events.defaultMonitorChanged("headset.monitor");
        deliver(events, 2, {0.4f});
        events.serverLost("Connection terminated");
    };
    runCapture();
    std::vector<std::int16_t> all = samplesOf(recorder.all());
    EXPECT_EQ(all, (std::vector<std::int16_t>{3276, 6553, 9830, 13106}));
    EXPECT_EQ(source.opened.size(), 2u);
}

TEST_F(CaptureTest, ASwitchThatIsUndoneOrSupersededLeavesOneRecording) {
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        events.defaultMonitorChanged("headset.monitor");
        events.defaultMonitorChanged("speakers.monitor");
        EXPECT_EQ(source.openMonitors(), (std::vector<std::string>{"speakers.monitor"}));
        events.defaultMonitorChanged("headset.monitor");
        events.defaultMonitorChanged("hdmi.monitor");
        EXPECT_EQ(source.openMonitors(),
                  (std::vector<std::string>{"speakers.monitor", "hdmi.monitor"}));
        events.defaultMonitorChanged(std::nullopt);  // nothing new to record
        deliver(events, 3, {0.5f});  // a buffer of the dropped headset recording
        deliver(events, 1, {0.1f});
        deliver(events, 4, {0.2f});
        events.serverLost("Connection terminated");
    };
    runCapture();
    EXPECT_EQ(samplesOf(recorder.all()), (std::vector<std::int16_t>{3276, 6553}));
    EXPECT_EQ(source.openMonitors(), (std::vector<std::string>{"hdmi.monitor"}));
}

TEST_F(CaptureTest, ANewDefaultThatCannotBeRecordedKeepsTheOldOne) {
    source.refusedMonitors["broken.monitor"] = "Access denied";
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        events.defaultMonitorChanged("broken.monitor");
        events.defaultMonitorChanged("headset.monitor");
        events.streamFailed(2, "No such entity");
        deliver(events, 1, {0.1f});
        events.serverLost("Connection terminated");
    };
    CaptureEnd end = runCapture();
    EXPECT_EQ(end.message, "capture stopped: Connection terminated");
    EXPECT_EQ(samplesOf(recorder.all()), (std::vector<std::int16_t>{3276}));
    EXPECT_EQ(source.openMonitors(), (std::vector<std::string>{"speakers.monitor"}));
}

TEST_F(CaptureTest, LosingTheDeviceMovesToTheNextDefault) {
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        deliver(events, 1, {0.1f});
        events.streamFailed(1, "Entity killed");
        EXPECT_EQ(source.refreshRequests, 1);
        events.defaultMonitorChanged("hdmi.monitor");
        events.streamStarted(2);
        deliver(events, 2, {0.2f});
        events.streamFailed(2, "Entity killed");
        events.defaultMonitorChanged(std::nullopt);
    };
    CaptureEnd end = runCapture();
    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_EQ(end.message, "capture stopped: Entity killed");
    EXPECT_EQ(samplesOf(recorder.all()), (std::vector<std::int16_t>{3276, 6553}));
}

TEST_F(CaptureTest, LosingTheCurrentDeviceMidSwitchTakesTheNewOne) {
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        events.defaultMonitorChanged("headset.monitor");
        events.streamFailed(1, "Entity killed");
        deliver(events, 2, {0.2f});
        events.serverLost("Connection terminated");
    };
    runCapture();
    EXPECT_EQ(source.refreshRequests, 0);
    EXPECT_EQ(samplesOf(recorder.all()), (std::vector<std::int16_t>{6553}));
}

TEST_F(CaptureTest, ADeviceThatKeepsFailingEndsTheCapture) {
    source.script = [&](AudioSourceEvents& events) {
        events.streamStarted(1);
        for (StreamId id = 1; id <= 10 && !source.quitCalled; ++id) {
            events.streamFailed(id, "Entity killed");
            events.defaultMonitorChanged("speakers.monitor");
        }
    };
    CaptureEnd end = runCapture();
    EXPECT_EQ(end.exitStatus, 1);
    EXPECT_EQ(end.message, "capture stopped: Entity killed");
    EXPECT_LE(source.opened.size(), 5u);
}

}  // namespace
