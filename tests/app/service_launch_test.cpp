#include <string>

#include "shell_fixture.h"
#include "page/loading_page.h"

namespace lumory::fakes {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

class ServiceLaunchTest : public ShellTest {
protected:
    void SetUp() override { launch(); }
};

TEST_F(ServiceLaunchTest, LaunchesTheServiceInTheHomeFolderBehindTheLoadingPage) {
    EXPECT_EQ(launcher.launches, 1);
    EXPECT_EQ(launcher.launched.executable, "/opt/lumory/lib/lumory/lumory-server");
    EXPECT_EQ(launcher.launched.workingDirectory, "/home/ada");
    ASSERT_EQ(page().loads.size(), 1u);
    EXPECT_EQ(page().loads[0].content, kLoadingPage);
    EXPECT_EQ(desktop.events, (std::vector<std::string>{"menus", "webview", "window", "activate"}));
}

TEST_F(ServiceLaunchTest, LoadsTheAnnouncedAddressOnceAmongOtherLines) {
    launcher.writeOutput("starting\n{\"event\":\"listening\",\"url\":\"http://x/\"}\n[1,2]\n");
    launcher.writeOutput("{\"url\":\"http://127.0.0.1:1/\"}\n\"ready\"\n");
    EXPECT_EQ(page().loads.size(), 1u);

    launcher.writeOutput(kReady);
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
    EXPECT_EQ(page().lastLoad()->timeout, seconds(60));
    EXPECT_EQ(page().focusCount, 1);
    EXPECT_TRUE(shell->service().isConnected());
    EXPECT_EQ(shell->service().announcedServerURL(), "http://127.0.0.1:43981/");

    launcher.writeOutput("{\"event\":\"ready\",\"url\":\"http://127.0.0.1:9/\"}\n");
    EXPECT_EQ(page().loads.size(), 2u);
    EXPECT_EQ(shell->service().announcedServerURL(), "http://127.0.0.1:43981/");
}

TEST_F(ServiceLaunchTest, RecognisesAReadyLineOnlyOnceItsLineFeedArrives) {
    launcher.writeOutput("{\"event\":\"rea");
    launcher.writeOutput("dy\",\"url\":\"http://127.0.0.1:43981/\"}");
    EXPECT_EQ(page().loads.size(), 1u);
    launcher.writeOutput("\nlater");
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
}

TEST_F(ServiceLaunchTest, KeepsACharacterSplitBetweenReads) {
    launcher.writeOutput("caf\xC3");
    launcher.writeOutput("\xA9 ready soon\n");
    launcher.writeOutput(kReady);
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
}

TEST_F(ServiceLaunchTest, StopsReadingOutputThatIsNotText) {
    launcher.writeOutput("\xFF\xFE\n");
    launcher.writeOutput(kReady);
    EXPECT_FALSE(shell->service().isConnected());
    queue.advance(seconds(20));
    EXPECT_EQ(shownFailure(), "Lumory took too long to start. Port 43981 may already be in use.");
}

TEST_F(ServiceLaunchTest, TextBeforeBytesThatAreNotTextStillCounts) {
    launcher.writeError("Error: caf\xE9 is not text\n");
    launcher.writeError("more that is never read");
    launcher.writeOutput(std::string(kReady) + "\xFF after");
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
    launcher.exit(1);
    EXPECT_EQ(shownFailure(), "The local Lumory service stopped unexpectedly.\n\nError: caf");
}

// Output that never ends its line is dropped, not kept; the next whole line counts again.
TEST_F(ServiceLaunchTest, ALineTooLongForAReadyLineIsDroppedUpToItsEnd) {
    std::string flood(64 * 1024, 'x');
    for (int i = 0; i < 160; ++i) launcher.writeOutput(flood);  // 10 MB, no line feed
    // The tail of the long line looks like a ready line but is not one.
    launcher.writeOutput(flood + kReady);
    EXPECT_EQ(page().loads.size(), 1u);
    launcher.writeOutput(kReady);
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
}

// A complete line over the limit in one read is not a ready line either; one at the limit is.
TEST_F(ServiceLaunchTest, AReadyLineMayBeAsLongAsTheLimitAndNoLonger) {
    std::string padded(kReady);
    padded.insert(padded.size() - 2, ",\"pad\":\"" + std::string(kLongestReadyLine, ' ') + "\"");
    launcher.writeOutput(padded);
    EXPECT_EQ(page().loads.size(), 1u);
    std::string atLimit(kReady);
    atLimit.insert(atLimit.size() - 2, std::string(kLongestReadyLine - (sizeof kReady - 2), ' '));
    launcher.writeOutput("noise\n" + atLimit);
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
}

TEST_F(ServiceLaunchTest, IgnoresAnAddressThatIsNotAUrlAndTimesOut) {
    launcher.writeOutput("{\"event\":\"ready\",\"url\":\"not a url\"}\n");
    launcher.writeOutput("{\"event\":\"ready\",\"url\":\"http://[::1\"}\n");
    launcher.writeOutput("{\"event\":\"ready\",\"url\":42}\n");
    launcher.writeOutput("{\"event\":\"ready\",\"url\":\"http://127.0.0.1:1/\\u0000evil\"}\n");
    EXPECT_EQ(page().loads.size(), 1u);
    queue.advance(seconds(20));
    EXPECT_EQ(shownFailure(), "Lumory took too long to start. Port 43981 may already be in use.");
    EXPECT_FALSE(shell->service().isConnected());
}

TEST_F(ServiceLaunchTest, WatchdogShowsTheStandardErrorTailWhenThereIsOne) {
    launcher.writeError("  \n listen EADDRINUSE 127.0.0.1:43981\n\n");
    queue.advance(milliseconds(19999));
    EXPECT_EQ(page().loads.size(), 1u);
    queue.advance(milliseconds(1));
    EXPECT_EQ(shownFailure(),
              "Lumory could not finish starting.\n\nlisten EADDRINUSE 127.0.0.1:43981");
}

TEST_F(ServiceLaunchTest, WatchdogIgnoresWhiteSpaceOnlyStandardError) {
    launcher.writeError(" \t\n\r\n");
    queue.advance(seconds(20));
    EXPECT_EQ(shownFailure(), "Lumory took too long to start. Port 43981 may already be in use.");
}

TEST_F(ServiceLaunchTest, WatchdogIsCancelledByTheReadyLine) {
    launcher.writeOutput(kReady);
    finishLoading();
    queue.advance(seconds(60));
    EXPECT_EQ(page().loads.size(), 2u);
    EXPECT_TRUE(page().lastLoad()->isRequest);
}

TEST_F(ServiceLaunchTest, ALateReadyLineStillLoadsThePage) {
    queue.advance(seconds(20));
    ASSERT_NE(shownFailure(), "<no failure page>");
    launcher.writeOutput(kReady);
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
    EXPECT_TRUE(shell->service().isConnected());
}

TEST_F(ServiceLaunchTest, AnUnexpectedExitShowsItsStatusOrTheStandardErrorTail) {
    launcher.writeOutput(kReady);
    launcher.exit(3);
    EXPECT_EQ(shownFailure(), "The local Lumory service stopped unexpectedly (status 3).");
    EXPECT_FALSE(shell->service().isConnected());

    // Reload does nothing once the failure page shows.
    desktop.choose("Reload");
    EXPECT_EQ(page().reloads, 0);
}

TEST_F(ServiceLaunchTest, AnExitBeforeTheReadyLineIsNotOverwrittenByTheWatchdog) {
    queue.advance(seconds(5));
    launcher.exit(3);
    queue.advance(seconds(30));
    EXPECT_EQ(page().loads.size(), 2u);
    EXPECT_EQ(shownFailure(), "The local Lumory service stopped unexpectedly (status 3).");
}

TEST_F(ServiceLaunchTest, AnExitWithStandardErrorShowsTheTrimmedText) {
    launcher.writeError("\nError: Cannot find module 'express'\n  at require\n");
    launcher.exit(1);
    EXPECT_EQ(shownFailure(),
              "The local Lumory service stopped unexpectedly.\n\n"
              "Error: Cannot find module 'express'\n  at require");
}

TEST_F(ServiceLaunchTest, ShowsMarkupFromTheServiceLiterally) {
    launcher.writeError("<b>bold</b> & <script>alert(1)</script> &lt; \"quoted\"");
    launcher.exit(3);
    EXPECT_EQ(shownFailure(),
              "The local Lumory service stopped unexpectedly.\n\n"
              "&lt;b&gt;bold&lt;/b&gt; &amp; &lt;script&gt;alert(1)&lt;/script&gt; &amp;lt; "
              "\"quoted\"");
}

TEST_F(ServiceLaunchTest, KeepsOnlyTheLastTwelveThousandCharactersOfStandardError) {
    std::string head(18000, 'h');
    std::string tail;
    for (int i = 0; i < 12000; ++i) tail += static_cast<char>('a' + i % 26);
    std::string all = head + tail;
    for (size_t at = 0; at < all.size(); at += 4096) launcher.writeError(all.substr(at, 4096));
    launcher.exit(1);
    EXPECT_EQ(shownFailure(), "The local Lumory service stopped unexpectedly.\n\n" + tail);
}

TEST_F(ServiceLaunchTest, CountsTheTailInCharactersNotBytes) {
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "\xC3\xA9";  // é
    launcher.writeError(text);
    launcher.exit(1);
    std::string expected;
    for (int i = 0; i < 12000; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(shownFailure(), "The local Lumory service stopped unexpectedly.\n\n" + expected);
}

TEST_F(ServiceLaunchTest, AnExitWhileTerminatingShowsNothingAndStopsTheService) {
    launcher.writeOutput(kReady);
    FakeServiceProcess* process = launcher.process();
    shell->shutdown();
    EXPECT_EQ(process->terminateRequests, 1);
    EXPECT_EQ(process->interruptRequests, 0);
    EXPECT_EQ(process->groupKills, 1) << "whatever the service left in its group goes too";
    EXPECT_TRUE(process->readingStopped);
    launcher.exit(0);
    EXPECT_TRUE(page().lastLoad()->isRequest);
    EXPECT_EQ(page().removedHandlers.size(), 5u);
}

TEST_F(ServiceLaunchTest, AServiceThatIgnoresTerminateIsInterruptedAfterTheGracePeriod) {
    FakeServiceProcess* process = launcher.process();
    process->stopsOnTerminate = false;
    process->stopsOnInterrupt = true;
    auto started = std::chrono::steady_clock::now();
    shell->shutdown();
    EXPECT_GE(std::chrono::steady_clock::now() - started, milliseconds(1000));
    EXPECT_EQ(process->terminateRequests, 1);
    EXPECT_EQ(process->interruptRequests, 1);
}

TEST_F(ServiceLaunchTest, AServiceThatIgnoresTerminateAndInterruptIsKilledWithItsGroup) {
    FakeServiceProcess* process = launcher.process();
    process->stopsOnTerminate = false;
    auto started = std::chrono::steady_clock::now();
    shell->shutdown();
    EXPECT_GE(std::chrono::steady_clock::now() - started, milliseconds(1500));
    EXPECT_EQ(process->interruptRequests, 1);
    EXPECT_GE(process->interruptedAt - process->terminatedAt, milliseconds(1000));
    EXPECT_EQ(process->groupKills, 1);
    EXPECT_FALSE(process->running);
}

TEST_F(ServiceLaunchTest, LateServiceEventsAfterTheDelegateIsGoneAreDropped) {
    shell.reset();
    launcher.writeOutput(kReady);
    launcher.writeError("late");
    launcher.exit(3);
    queue.advance(seconds(30));
    SUCCEED();  // the fakes' callbacks must not reach the destroyed shell (ASan checks)
}

class ServiceLaunchFailureTest : public ShellTest {};

TEST_F(ServiceLaunchFailureTest, MissingResourcesFolder) {
    system.resources.reset();
    launch();
    EXPECT_EQ(shownFailure(), "The application resources are missing.");
    EXPECT_EQ(launcher.launches, 0);
}

TEST_F(ServiceLaunchFailureTest, MissingOrNonExecutableService) {
    system.executables.clear();
    launch();
    EXPECT_EQ(shownFailure(), "The Lumory service is missing from the application bundle.");
    EXPECT_EQ(launcher.launches, 0);
}

TEST_F(ServiceLaunchFailureTest, LaunchErrorIsShownAndNoWatchdogRuns) {
    launcher.failure = "Failed to execute child process (Exec format error)";
    launch();
    EXPECT_EQ(shownFailure(),
              "Lumory could not start its local service.\n\n"
              "Failed to execute child process (Exec format error)");
    EXPECT_EQ(queue.pendingCount(), 0u);
    queue.advance(seconds(30));
    EXPECT_EQ(page().loads.size(), 2u);
}

TEST_F(ServiceLaunchFailureTest, TimeOutMessageNamesThePortTheServiceWasGiven) {
    system.environment["LUMORY_DESKTOP_PORT"] = "5000";
    launch();
    queue.advance(seconds(20));
    EXPECT_EQ(shownFailure(), "Lumory took too long to start. Port 5000 may already be in use.");
}

TEST_F(ServiceLaunchFailureTest, TimeOutMessageNamesTheDefaultPortWhenTheChoiceIsEmpty) {
    system.environment["LUMORY_DESKTOP_PORT"] = "";
    launch();
    queue.advance(seconds(20));
    EXPECT_EQ(shownFailure(), "Lumory took too long to start. Port 43981 may already be in use.");
}

}  // namespace
}  // namespace lumory::fakes
