// The shell with the reference service on a private display, as a user meets it: a workspace of
// notes and tasks, menu commands that act on the page, and edits that reach the disk. Screenshots
// land in the test artifacts (the README's pictures come from here).
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "xvfb_display.h"
#include "xvfb_input.h"
#include "xvfb_process.h"
#include "xvfb_shell.h"
#include "xvfb_windows.h"

namespace lumory::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kReferenceService = LUMORY_REFERENCE_SERVICE;
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
// WebKit paints a changed page some seconds after the change on a busy machine without a GPU.
constexpr auto kPaintSettle = std::chrono::seconds(6);

// Milliseconds since 1970 of today (plus `days`) at the given local time.
double localTime(int days, int hour, int minute) {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    parts.tm_mday += days;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = 0;
    parts.tm_isdst = -1;
    return static_cast<double>(std::mktime(&parts)) * 1000.0;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A workspace a person might have after a few days: three notes, tasks for today and tomorrow.
void seedWorkspace(const fs::path& workspace) {
    fs::create_directories(workspace / ".lumory");
    std::ofstream(workspace / "Groceries.md") << "# Groceries\n\n- oat milk\n- lemons\n- basil\n";
    std::ofstream(workspace / "Reading list.md")
        << "# Reading list\n\n- The Left Hand of Darkness\n- Braiding Sweetgrass\n";
    // Written last, so it is the newest note and opens first; no line feed after the last line.
    std::this_thread::sleep_for(20ms);
    std::ofstream(workspace / "Trip to Lyon.md")
        << "# Trip to Lyon\n\nTrain at 9:12 from Paris Gare de Lyon, coach 14.\n\nPack:\n"
           "passport\nchargers\nrain jacket";
    json tasks = json::array({
        {{"id", "a1"}, {"title", "Book the hotel"}, {"due", localTime(0, 23, 30)}, {"done", false},
         {"note", "Trip to Lyon.md"}, {"created", 1}},
        {{"id", "a2"}, {"title", "Call Ana about the weekend"}, {"due", localTime(0, 23, 45)},
         {"done", false}, {"note", nullptr}, {"created", 2}},
        {{"id", "a3"}, {"title", "Buy lemons"}, {"due", nullptr}, {"done", false},
         {"note", "Groceries.md"}, {"created", 3}},
        {{"id", "a4"}, {"title", "Renew the train pass"}, {"due", localTime(1, 9, 0)},
         {"done", false}, {"note", nullptr}, {"created", 4}},
        {{"id", "a5"}, {"title", "Water the plants"}, {"due", localTime(0, 8, 0)}, {"done", true},
         {"doneAt", localTime(0, 8, 5)}, {"note", nullptr}, {"created", 5}},
    });
    std::ofstream(workspace / ".lumory" / "tasks.json") << json{{"version", 1}, {"tasks", tasks}};
}

class ServiceOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        fs::create_directories(kArtifacts);
    }

    void screenshot(const std::string& name, std::chrono::milliseconds settle) {
        std::this_thread::sleep_for(settle);
        EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/" + name, 15000)) << name;
    }

    XvfbDisplay display{1600, 1000};
};

TEST_F(ServiceOnDisplayTest, MenuCommandsActOnTheWorkspaceAndEditsReachTheDisk) {
    ShellUnderTest shell(kShell, kReferenceService);
    fs::path workspace = fs::path(shell.root()) / "home" / "Lumory";
    seedWorkspace(workspace);
    ASSERT_TRUE(shell.start(display, {"LUMORY_DESKTOP_PORT=0"}));
    auto loaded = shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "load-finished" &&
                   report.value("url", "").rfind("http://127.0.0.1:", 0) == 0;
        },
        30s);
    ASSERT_TRUE(loaded) << shell.standardError();
    // The address carries the secret path the service chose.
    EXPECT_GT(loaded->value("url", "").size(), std::string("http://127.0.0.1:1/").size() + 20);
    // The page opens on the day's tasks once it has asked the service for the workspace.
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "title" &&
                   report.value("title", "") == "Today – Lumory";
        },
        20s))
        << "the page did not show the day's tasks";
    screenshot("service-today.png", kPaintSettle);

    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    // The newest note is first in the sidebar's list.
    input.click(1, window->x + 120, window->y + 285);
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "title" &&
                   report.value("title", "") == "Trip to Lyon – Lumory";
        },
        10s))
        << "the note did not open";
    screenshot("service-main-window.png", kPaintSettle);
    // A click below the text puts the caret at its end, on the line "rain jacket".
    input.click(1, window->x + 700, window->y + 700);
    ASSERT_TRUE(input.chord({"Control_L", "Shift_L", "l"}));
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "title" &&
                   report.value("title", "") == "Lumory (bullet)";
        },
        10s));
    std::string saved;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(100ms)) {
        saved = readFile(workspace / "Trip to Lyon.md");
        if (saved.ends_with("\n- rain jacket")) break;
    }
    EXPECT_TRUE(saved.ends_with("chargers\n- rain jacket")) << saved;
    EXPECT_TRUE(saved.starts_with("# Trip to Lyon\n")) << saved;
    // Saved whole, through a temporary file that is gone again.
    for (const auto& entry : fs::directory_iterator(workspace)) {
        EXPECT_EQ(entry.path().extension(), entry.is_directory() ? "" : ".md") << entry.path();
    }

    ASSERT_TRUE(input.chord({"Control_L", "t"}));
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "title" &&
                   report.value("title", "") == "Lumory (today)";
        },
        10s));

    ASSERT_TRUE(input.chord({"Control_L", "Shift_L", "t"}));
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "title" &&
                   report.value("title", "") == "Lumory (tomorrow)";
        },
        10s));

    int status = shell.stop(10s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    EXPECT_TRUE(processesMentioning(shell.root() + "/lib/lumory/lumory-server").empty());
    // The tasks the page was given are still all there after the run.
    json tasks = json::parse(readFile(workspace / ".lumory" / "tasks.json"), nullptr, false);
    ASSERT_FALSE(tasks.is_discarded());
    EXPECT_EQ(tasks["tasks"].size(), 5u);
}

}  // namespace
}  // namespace lumory::testing
