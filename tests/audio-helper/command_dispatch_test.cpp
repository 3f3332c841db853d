#include "command_dispatch.h"

#include <csignal>

#include <gtest/gtest.h>

#include "fake_audio_source.h"
#include "write_recorder.h"

namespace {

using namespace lumory::audio;
using lumory::audio::testing::FakeAudioSource;
using lumory::audio::testing::WriteRecorder;

struct HelperRun {
    int exitStatus;
    std::vector<std::string> out;
    std::string err;
};

HelperRun runWith(std::vector<const char*> arguments, FakeAudioSource& source) {
    WriteRecorder out, err;
    Output outHandle(out.writeEnd()), errHandle(err.writeEnd());
    arguments.insert(arguments.begin(), "lumory-audio");
    int status = runCommand(parseCommand(static_cast<int>(arguments.size()), arguments.data()),
                            source, outHandle, errHandle);
    return {status, out.writes(), err.all()};
}

TEST(CommandLine, AnythingButTheTwoExactWordsGetsTheUsageText) {
    for (std::vector<const char*> arguments :
         {std::vector<const char*>{}, {"STATUS"}, {"Capture"}, {""}, {"help"}, {"--status"}}) {
        FakeAudioSource source;
        HelperRun run = runWith(arguments, source);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(run.err, "usage: lumory-audio status|capture\n");
        EXPECT_EQ(source.connectCalls, 0) << "usage must not touch the sound server";
    }
}

TEST(StatusCommand, GrantedOnlyWithAServerAndADefaultOutputToMonitor) {
    FakeAudioSource present;
    HelperRun granted = runWith({"status", "extra", "words"}, present);
    EXPECT_EQ(granted.exitStatus, 0);
    EXPECT_EQ(granted.out, (std::vector<std::string>{"{\"status\":\"granted\"}\n"}));
    EXPECT_EQ(granted.err, "");

    FakeAudioSource refused;
    refused.connectError = "Connection refused";
    HelperRun noServer = runWith({"status"}, refused);
    EXPECT_EQ(noServer.exitStatus, 0);
    EXPECT_EQ(noServer.out, (std::vector<std::string>{"{\"status\":\"denied\"}\n"}));
    EXPECT_EQ(noServer.err, "");

    FakeAudioSource noSink;
    noSink.monitor.reset();
    EXPECT_EQ(runWith({"status"}, noSink).out,
              (std::vector<std::string>{"{\"status\":\"denied\"}\n"}));
}

TEST(CaptureCommand, FailureMessageGoesToStandardErrorOnly) {
    FakeAudioSource noSink;
    noSink.monitor.reset();
    HelperRun run = runWith({"capture"}, noSink);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(run.err, "no display to capture audio from\n");
}

}  // namespace
