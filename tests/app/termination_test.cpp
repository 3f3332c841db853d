// Quitting: the page is asked to save first, and the shell stays open when it cannot.
#include <algorithm>

#include "shell_fixture.h"

namespace lumory::fakes {
namespace {

using namespace std::chrono_literals;

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";
constexpr char kFlushScript[] = "window.dispatchEvent(new Event('lumory-desktop-flush'))";
constexpr char kTooSlow[] = "Saving took too long. Lumory is still open so no edits are lost.";
constexpr char kCouldNotSave[] = "Lumory could not save before quitting";

class TerminationTest : public ShellTest {
protected:
    void SetUp() override {
        launch();
        launcher.writeOutput(kReady);
        finishLoading();
        page().scripts.clear();
    }

    void answerFlush(const nlohmann::json& body) {
        desktop.webViewDelegate->scriptMessageReceived(page(), "lumoryDesktopFlush", body);
    }

    int flushes() const {
        return static_cast<int>(std::count(desktop.webView->scripts.begin(),
                                           desktop.webView->scripts.end(), kFlushScript));
    }
    int terminations() const {
        return static_cast<int>(
            std::count(desktop.events.begin(), desktop.events.end(), "quit"));
    }

    void expectAlert(const std::string& text) {
        ASSERT_EQ(dialogs.sheets.size(), 1u);
        EXPECT_EQ(dialogs.sheets[0].spec.text, kCouldNotSave);
        EXPECT_EQ(dialogs.sheets[0].spec.secondaryText, text);
        EXPECT_EQ(dialogs.sheets[0].spec.buttons, std::vector<std::string>{"Keep Working"});
        EXPECT_FALSE(dialogs.sheets[0].spec.textField);
    }
};

TEST_F(TerminationTest, QuitsAtOnceWhileTheLoadingOrFailurePageShows) {
    // Loading page: a fresh shell whose service has not said where it serves.
    FakeDesktop loadingDesktop;
    FakeServiceLauncher loadingLauncher;
    Shell loading(ShellPlatform{loadingDesktop, loadingLauncher, queue, system, dialogs,
                                    notifications, http, settings, clock});
    loading.start();
    loading.quit();
    EXPECT_EQ(loadingDesktop.events.back(), "quit");
    EXPECT_TRUE(loadingDesktop.webView->scripts.empty());
    EXPECT_TRUE(loadingDesktop.inhibitReasons.empty());

    // Failure page: the service ended after its page was shown.
    launcher.exit(3);
    ASSERT_FALSE(shell->service().isConnected());
    desktop.choose("Quit Lumory");
    EXPECT_EQ(terminations(), 1);
    EXPECT_EQ(flushes(), 0);
    EXPECT_TRUE(desktop.inhibitReasons.empty());
    queue.advance(6s);
    EXPECT_TRUE(dialogs.sheets.empty());
}

TEST_F(TerminationTest, APageThatNeverLoadedIsNotAskedToSaveAndDoesNotHoldTheShell) {
    // The service announced an address that accepts connections and never answers.
    FakeDesktop hungDesktop;
    FakeServiceLauncher hungLauncher;
    Shell hung(ShellPlatform{hungDesktop, hungLauncher, queue, system, dialogs, notifications,
                             http, settings, clock});
    hung.start();
    hungLauncher.writeOutput(kReady);
    hung.quit();
    EXPECT_EQ(hungDesktop.events.back(), "quit");
    EXPECT_TRUE(hungDesktop.webView->scripts.empty());
    EXPECT_TRUE(hungDesktop.inhibitReasons.empty());

    // The failure page follows after twenty seconds, not before, and not once the page loaded.
    queue.advance(19900ms);
    ASSERT_TRUE(hungDesktop.webView->lastLoad()->isRequest);
    queue.advance(100ms);
    const FakeWebView::Load* shown = hungDesktop.webView->lastLoad();
    ASSERT_FALSE(shown->isRequest);
    EXPECT_NE(shown->content.find("The local Lumory service did not send its page."),
              std::string::npos);
    EXPECT_FALSE(hung.service().isConnected());

    queue.advance(30s);
    EXPECT_EQ(page().lastLoad()->isRequest, true) << "a page that loaded keeps its place";
}

TEST_F(TerminationTest, AServiceThatEndsWhileThePageSavesLeavesThePageAndSaysSo) {
    desktop.choose("Quit Lumory");
    ASSERT_EQ(flushes(), 1);
    desktop.mainWindow->calls.clear();
    launcher.exit(1);
    EXPECT_TRUE(page().lastLoad()->isRequest) << "the typed text stays on screen";
    ASSERT_EQ(dialogs.sheets.size(), 1u);
    EXPECT_EQ(dialogs.sheets[0].spec.text,
              "The Lumory service stopped before your note was saved");
    EXPECT_EQ(dialogs.sheets[0].spec.secondaryText,
              "Its text is still in the window: copy what you want to keep, then quit.");
    EXPECT_EQ(dialogs.sheets[0].spec.buttons,
              (std::vector<std::string>{"Keep Window Open", "Quit Anyway"}));
    EXPECT_EQ(desktop.mainWindow->calls, std::vector<std::string>{"present"});
    EXPECT_EQ(terminations(), 0);
    EXPECT_EQ(desktop.inhibitReasons.back(), kCouldNotSave) << "logging out would lose it";
    queue.advance(6s);
    EXPECT_EQ(dialogs.sheets.size(), 1u) << "the flush's time-out is over";

    dialogs.answer(0);
    EXPECT_EQ(terminations(), 0);
    desktop.choose("Quit Lumory");
    EXPECT_EQ(terminations(), 1) << "nothing is left that could save";
    EXPECT_EQ(flushes(), 1);
}

TEST_F(TerminationTest, QuitAnywayAfterTheServiceEndedQuits) {
    desktop.choose("Quit Lumory");
    launcher.exit(9);
    ASSERT_EQ(dialogs.sheets.size(), 1u);
    dialogs.answer(1);
    EXPECT_EQ(terminations(), 1);
}

TEST_F(TerminationTest, EveryQuitWhileAFlushRunsIsAbsorbedAndOneAnswerEndsThemAll) {
    desktop.choose("Quit Lumory");
    desktop.choose("Quit Lumory");
    desktop.closeWindow();
    shell->quit();  // a signal or the session ending
    EXPECT_EQ(page().scripts, std::vector<std::string>{kFlushScript});
    EXPECT_EQ(terminations(), 0);
    EXPECT_EQ(desktop.inhibitReasons, std::vector<std::string>{"Saving your note"});
    EXPECT_EQ(*desktop.activeInhibitions, 1);

    answerFlush({{"ok", true}});
    EXPECT_EQ(terminations(), 1);
    answerFlush({{"ok", true}});
    queue.advance(10s);
    EXPECT_EQ(terminations(), 1);
    EXPECT_TRUE(dialogs.sheets.empty());
    // Logging out stays held back until the service has been stopped.
    EXPECT_EQ(*desktop.activeInhibitions, 1);
    shell->shutdown();
    EXPECT_EQ(*desktop.activeInhibitions, 0);
}

TEST_F(TerminationTest, NoAnswerWithinFiveSecondsKeepsTheShellOpenAndALateAnswerChangesNothing) {
    desktop.choose("Minimize");
    desktop.choose("Quit Lumory");
    queue.advance(4999ms);
    EXPECT_TRUE(dialogs.sheets.empty());
    queue.advance(1ms);
    expectAlert(kTooSlow);
    EXPECT_EQ(terminations(), 0);
    // The minimised window comes back to carry the alert.
    EXPECT_EQ(desktop.mainWindow->calls.back(), "present");
    // The note is still unsaved: logging out keeps waiting, also once the alert is gone.
    EXPECT_EQ(desktop.inhibitReasons,
              (std::vector<std::string>{"Saving your note", kCouldNotSave}));
    EXPECT_EQ(*desktop.activeInhibitions, 1);

    answerFlush({{"ok", true}});
    EXPECT_EQ(terminations(), 0);
    EXPECT_EQ(dialogs.sheets.size(), 1u);
    dialogs.answer(0);
    EXPECT_EQ(*desktop.activeInhibitions, 1);

    // A new quit asks the page again, with a fresh five seconds.
    desktop.closeWindow();
    EXPECT_EQ(flushes(), 2);
    EXPECT_EQ(desktop.inhibitReasons.back(), "Saving your note");
    EXPECT_EQ(*desktop.activeInhibitions, 1);
    queue.advance(4s);
    answerFlush({{"ok", true}});
    EXPECT_EQ(terminations(), 1);
    queue.advance(10s);
    EXPECT_TRUE(dialogs.sheets.empty());
    shell->shutdown();
    EXPECT_EQ(*desktop.activeInhibitions, 0);
}

TEST_F(TerminationTest, ThePageErrorOrAMissingOkKeepsTheShellOpenWithTheReason) {
    desktop.choose("Quit Lumory");
    answerFlush({{"ok", false}, {"error", "The disk is full."}});
    expectAlert("The disk is full.");
    dialogs.answer(0);

    desktop.choose("Quit Lumory");
    answerFlush({{"ok", "true"}});
    expectAlert("The current note could not be saved.");
    dialogs.answer(-1);

    desktop.choose("Quit Lumory");
    answerFlush(nlohmann::json::array({true}));
    expectAlert("The current note could not be saved.");
    EXPECT_EQ(terminations(), 0);
    queue.advance(10s);
    EXPECT_EQ(dialogs.sheets.size(), 1u);  // the time-outs were called off
}

TEST_F(TerminationTest, AnEvaluationErrorEndsTheFlushWithItsDescription) {
    page().evaluationError = "The web process is gone";
    desktop.choose("Quit Lumory");
    expectAlert("The web process is gone");
    EXPECT_EQ(queue.pendingCount(), 0u);
    answerFlush({{"ok", true}});
    EXPECT_EQ(terminations(), 0);
}

TEST_F(TerminationTest, ALateEvaluationErrorOfAnEarlierFlushDoesNotEndTheCurrentOne) {
    page().holdCompletions = true;
    desktop.choose("Quit Lumory");
    queue.advance(5s);
    expectAlert(kTooSlow);
    dialogs.answer(0);

    desktop.choose("Quit Lumory");
    page().completeEvaluation("stale");
    EXPECT_TRUE(dialogs.sheets.empty());
    page().completeEvaluation(std::nullopt);  // the second ran: only the page's answer counts
    EXPECT_TRUE(dialogs.sheets.empty());
    answerFlush({{"ok", true}});
    EXPECT_EQ(terminations(), 1);
}

TEST_F(TerminationTest, TheFinalCleanUpDetachesThePageAndSilencesTheService) {
    desktop.choose("Quit Lumory");
    FakeServiceProcess* process = launcher.process();
    shell->shutdown();
    EXPECT_EQ(page().removedHandlers,
              (std::vector<std::string>{"lumoryDesktopFlush", "lumoryDesktopReminders",
                                        "lumoryDesktopWindowDrag", "lumoryDesktopWindowControls",
                                        "lumoryDesktopOverlay"}));
    EXPECT_TRUE(process->readingStopped);
    EXPECT_EQ(process->terminateRequests, 1);
    launcher.exit(0);
    queue.advance(30s);
    EXPECT_TRUE(dialogs.sheets.empty());
    EXPECT_TRUE(page().lastLoad()->isRequest);  // no failure page
    shell->quit();
    EXPECT_EQ(flushes(), 1);
}

TEST_F(TerminationTest, AServiceThatStopsOnTerminateEndsTheWaitAtTheFirstLook) {
    FakeServiceProcess* process = launcher.process();
    process->runningChecks.clear();
    shell->shutdown();
    // One look before asking, one after the first 20 ms.
    ASSERT_EQ(process->runningChecks.size(), 2u);
    EXPECT_GE(process->runningChecks[1] - process->terminatedAt, 20ms);
    EXPECT_EQ(process->interruptRequests, 0);
}

TEST_F(TerminationTest, AServiceThatIgnoresTerminateIsInterruptedAfterOneSecondOfPolling) {
    FakeServiceProcess* process = launcher.process();
    process->stopsOnTerminate = false;
    process->runningChecks.clear();
    shell->shutdown();
    EXPECT_EQ(process->terminateRequests, 1);
    ASSERT_EQ(process->interruptRequests, 1);
    EXPECT_GE(process->interruptedAt - process->terminatedAt, 1s);
    ASSERT_GE(process->runningChecks.size(), 3u);
    EXPECT_LE(process->runningChecks.size(), 51u + 26u);
    for (size_t at = 2; at < process->runningChecks.size(); ++at) {
        EXPECT_GE(process->runningChecks[at] - process->runningChecks[at - 1], 20ms);
    }
    // Half a second more after the interrupt, then the whole group is killed.
    EXPECT_LE(process->runningChecks.back() - process->interruptedAt, 600ms);
    EXPECT_EQ(process->groupKills, 1);
}

TEST_F(TerminationTest, AnEndedServiceGetsNoSignal) {
    FakeServiceProcess* process = launcher.process();
    launcher.exit(0);
    shell->shutdown();
    EXPECT_EQ(process->terminateRequests, 0);
    EXPECT_EQ(process->interruptRequests, 0);
    EXPECT_TRUE(process->readingStopped);
}

}  // namespace
}  // namespace lumory::fakes
