// Every way of ending the real shell asks its page to save first: the menu shortcut, a signal,
// the window manager's close, and a page that cannot save keeps the window open with the alert.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <thread>

#include "dbus/fake_session_manager.h"
#include "process/child_process.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_session_bus.h"
#include "xvfb/xvfb_shell.h"
#include "xvfb/xvfb_window_manager.h"
#include "xvfb/xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kSavingService = std::string(LUMORY_TEST_SERVICES) + "/saves_on_flush.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
constexpr char kCouldNotSave[] = "Lumory could not save before quitting";

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The main window, told from the alert (which carries the same title) by its size.
std::optional<WindowGeometry> mainWindow(const std::string& display) {
    for (const WindowGeometry& window : findWindows(display, "Lumory")) {
        if (window.width >= 1440) return window;
    }
    return std::nullopt;
}

class QuitOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        std::filesystem::create_directories(kArtifacts);
    }

    // `mode`: how the page answers the flush ("save", "silent" or "error"), with "+helper" to
    // have the service start a helper.
    void startWithNote(const std::string& mode, const std::string& text,
                       std::vector<std::string> environment = {}) {
        shell = std::make_unique<ShellUnderTest>(kShell, kSavingService);
        workspace = shell->root() + "/workspace";
        std::filesystem::create_directories(workspace);
        environment.push_back("LUMORY_DESKTOP_PORT=0");
        environment.push_back("LUMORY_WORKSPACE=" + workspace);
        environment.push_back("LUMORY_CONFIG=" + mode);
        ASSERT_TRUE(shell->start(display, environment));
        ASSERT_TRUE(shell->waitForProbe(isServicePage, 30s))
            << "the page never loaded: " << shell->standardError();
        auto window = mainWindow(display.name());
        ASSERT_TRUE(window);
        input = std::make_unique<XvfbInput>(display.name());
        ASSERT_TRUE(input->connected());
        // A click gives the window the focus under a window manager and the page's text
        // area the caret; without one the pointer alone decides where keys go.
        input->click(1, window->x + 400, window->y + 300);
        std::this_thread::sleep_for(300ms);
        for (char c : text) ASSERT_TRUE(input->chord({std::string(1, c)}));
        ASSERT_TRUE(waitForTitle("typed:" + text)) << "the page did not get the text";
    }

    bool waitForTitle(const std::string& title) {
        return shell
            ->waitForProbe(
                [&](const json& report) {
                    return report.value("event", "") == "title" &&
                           report.value("title", "") == title;
                },
                10s)
            .has_value();
    }

    std::optional<json> waitForAlert(std::chrono::milliseconds timeout) {
        return shell->waitForProbe(
            [](const json& report) { return report.value("event", "") == "dialog"; }, timeout);
    }

    // Presses Return on the alert (its one button is the default); true once it has gone.
    bool keepWorking() {
        if (findWindows(display.name(), "Lumory").size() != 2) return false;
        if (!input->chord({"Return"})) return false;
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (findWindows(display.name(), "Lumory").size() != 1) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    // The shell ended by itself, the note is on disk and the service was asked to stop.
    void expectSavedAndStopped(int status, const std::string& text) {
        ASSERT_NE(status, -1) << "the shell did not quit: " << shell->standardError();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(readFile(workspace + "/note.txt"), text);
        EXPECT_EQ(readFile(workspace + "/stopped.txt"), "SIGTERM");
        EXPECT_TRUE(processesMentioning(shell->root() + "/lib/lumory/lumory-server").empty());
        EXPECT_EQ(shell->standardError(), "");
    }

    void expectAlertWith(const json& alert, const std::string& text) {
        EXPECT_EQ(alert.value("text", ""), kCouldNotSave);
        EXPECT_EQ(alert.value("secondaryText", ""), text);
        ASSERT_EQ(alert["buttons"].size(), 1u);
        EXPECT_EQ(alert["buttons"][0].value("label", ""), "Keep Working");
        EXPECT_TRUE(alert.value("modal", false));
        EXPECT_EQ(alert.value("transientFor", ""), "Lumory");
    }

    XvfbDisplay display{1600, 1000};
    std::unique_ptr<ShellUnderTest> shell;
    std::unique_ptr<XvfbInput> input;
    std::string workspace;
};

TEST_F(QuitOnDisplayTest, CtrlQSavesTheNoteBeforeTheServiceStops) {
    startWithNote("save", "hello");
    ASSERT_TRUE(input->chord({"Control_L", "q"}));
    expectSavedAndStopped(shell->waitUntilEnded(15s), "hello");
}

TEST_F(QuitOnDisplayTest, SigtermSavesTheNoteBeforeTheServiceStops) {
    startWithNote("save", "signal");
    expectSavedAndStopped(shell->stop(15s), "signal");
}

TEST_F(QuitOnDisplayTest, TheWindowManagersCloseSavesTheNoteBeforeTheServiceStops) {
    XvfbWindowManager windowManager(display);
    ASSERT_TRUE(windowManager.started()) << "jwm did not start: " << windowManager.errors();
    startWithNote("save", "closed");
    ASSERT_TRUE(requestWindowClose(display.name(), "Lumory"));
    expectSavedAndStopped(shell->waitUntilEnded(15s), "closed");
}

TEST_F(QuitOnDisplayTest, APageThatNeverAnswersKeepsTheWindowOpenWithTheAlert) {
    startWithNote("silent", "unsaved");
    auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(input->chord({"Control_L", "q"}));
    ASSERT_TRUE(waitForTitle("flushing")) << "the page was not asked to save";
    auto alert = waitForAlert(10s);
    ASSERT_TRUE(alert) << "no alert: " << shell->standardError();
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 4900ms);
    expectAlertWith(*alert, "Saving took too long. Lumory is still open so no edits are lost.");
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(shell->waitUntilEnded(0ms), -1) << "the shell quit without saving";
    EXPECT_TRUE(mainWindow(display.name()));
    EXPECT_FALSE(readFile(workspace + "/note.txt"));
    EXPECT_TRUE(display.screenshot(kArtifacts + "/quit-flush-timed-out.png"));

    // Keep Working (the default button) leaves the shell running; quitting again asks again.
    ASSERT_TRUE(keepWorking());
    ASSERT_TRUE(input->chord({"Control_L", "q"}));
    ASSERT_TRUE(waitForAlert(10s));
    EXPECT_EQ(shell->waitUntilEnded(0ms), -1);
}

TEST_F(QuitOnDisplayTest, AMinimisedWindowComesBackWithThePagesError) {
    XvfbWindowManager windowManager(display);
    ASSERT_TRUE(windowManager.started()) << "jwm did not start: " << windowManager.errors();
    startWithNote("error", "draft");
    ASSERT_TRUE(input->chord({"Control_L", "m"}));
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (mainWindow(display.name()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_FALSE(mainWindow(display.name())) << "the window did not minimise";

    kill(shell->pid(), SIGTERM);
    auto alert = waitForAlert(10s);
    ASSERT_TRUE(alert) << "no alert: " << shell->standardError();
    expectAlertWith(*alert, "The workspace is read-only.");
    deadline = std::chrono::steady_clock::now() + 5s;
    while (!mainWindow(display.name()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(mainWindow(display.name())) << "the window stayed minimised";
    EXPECT_EQ(shell->waitUntilEnded(0ms), -1);
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(display.screenshot(kArtifacts + "/quit-page-error.png"));
}

// Ctrl+C in the terminal that started the shell, or the terminal closing, signals the whole job
// (the shell leads its group here as a terminal's job does). The shell quits the normal way, and
// nothing else in the job ends under it first: not WebKit's web process, which would take the
// typed note with it, nor the service, whose group is its own.
TEST_F(QuitOnDisplayTest, TheTerminalsInterruptAndHangUpSaveTheNoteLikeAnyQuit) {
    for (int signal : {SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGHUP");
        std::string text = signal == SIGINT ? "interrupted" : "hungup";
        startWithNote("save+helper", text);
        auto helper = readFile(workspace + "/helper.pid");
        ASSERT_TRUE(helper);
        EXPECT_NE(getpgid(std::stoi(*helper)), shell->pid()) << "the helper is in the job";

        auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(-shell->pid(), signal), 0);
        int status = shell->waitUntilEnded(15s);
        auto took = std::chrono::steady_clock::now() - sent;
        expectSavedAndStopped(status, text);
        EXPECT_TRUE(processesMentioning(workspace).empty()) << "the helper outlived the shell";
        int flushes = 0;
        int crashes = 0;
        int reloads = 0;
        shell->waitForProbe(
            [&](const json& report) {
                if (report.value("title", "") == "flushing") ++flushes;
                if (report.value("event", "") == "web-process-terminated") ++crashes;
                if (isServicePage(report)) ++reloads;
                return false;
            },
            1s);
        EXPECT_EQ(flushes, 1);
        EXPECT_EQ(crashes, 0);
        EXPECT_EQ(reloads, 0);
        std::cout << (signal == SIGINT ? "SIGINT" : "SIGHUP") << " to the job: quit in "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                  << " ms\n";
    }
}

bool logHas(const std::vector<std::string>& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}

// The session manager asks whether the session may end: the shell holds logging out back
// while its page saves, agrees, and then quits by itself once the note is on disk.
TEST_F(QuitOnDisplayTest, TheSessionEndingWaitsForTheNoteToBeSaved) {
    XvfbSessionBus bus;
    ASSERT_TRUE(bus.started());
    FakeSessionManager session(bus.address());
    ASSERT_TRUE(session.started());
    startWithNote("save", "logout", {"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(session.waitFor(
        [](const auto& log) { return logHas(log, "register:org.lumory.Lumory"); }, 10s));

    session.queryEndSession();
    ASSERT_TRUE(session.waitFor(
        [](const auto& log) { return logHas(log, "response:org.lumory.Lumory:true"); }, 10s));
    std::vector<std::string> log = session.log();
    // Held back before agreeing: the session waits for the inhibition to go.
    auto inhibited = std::find(log.begin(), log.end(), "inhibit:1:1:Saving your note");
    ASSERT_NE(inhibited, log.end()) << ::testing::PrintToString(log);
    EXPECT_LT(inhibited - log.begin(),
              std::find(log.begin(), log.end(), "response:org.lumory.Lumory:true") - log.begin())
        << ::testing::PrintToString(log);
    expectSavedAndStopped(shell->waitUntilEnded(15s), "logout");
}

// A page that cannot save keeps holding the session back while its alert shows; the user can
// still end the session from the session's own dialog, and the service is stopped then too.
TEST_F(QuitOnDisplayTest, AFailedSaveKeepsTheSessionWaitingUntilTheUserEndsIt) {
    XvfbSessionBus bus;
    ASSERT_TRUE(bus.started());
    FakeSessionManager session(bus.address());
    ASSERT_TRUE(session.started());
    startWithNote("error", "kept", {"DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(session.waitFor(
        [](const auto& log) { return logHas(log, "register:org.lumory.Lumory"); }, 10s));

    session.queryEndSession();
    auto alert = waitForAlert(10s);
    ASSERT_TRUE(alert) << shell->standardError();
    expectAlertWith(*alert, "The workspace is read-only.");
    ASSERT_TRUE(session.waitFor(
        [](const auto& log) {
            return logHas(log, "inhibit:2:1:Lumory could not save before quitting") &&
                   logHas(log, "uninhibit:1");
        },
        10s))
        << ::testing::PrintToString(session.log());
    EXPECT_EQ(shell->waitUntilEnded(500ms), -1);
    EXPECT_FALSE(readFile(workspace + "/note.txt"));
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(display.screenshot(kArtifacts + "/quit-session-end-failed.png"));

    // Keep Working leaves the session waiting: the note is still unsaved.
    ASSERT_TRUE(keepWorking());
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(logHas(session.log(), "uninhibit:2"));

    session.endSession();
    int status = shell->waitUntilEnded(15s);
    ASSERT_NE(status, -1) << "the shell outlived the session";
    EXPECT_EQ(readFile(workspace + "/stopped.txt"), "SIGTERM");
    EXPECT_TRUE(processesMentioning(shell->root() + "/lib/lumory/lumory-server").empty());
}

}  // namespace
}  // namespace lumory::testing
