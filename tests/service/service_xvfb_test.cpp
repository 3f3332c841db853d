// The shell with the reference service on a private display, as a user meets it: a workspace of
// notes and tasks, menu commands that act on the page, and edits that reach the disk. Screenshots
// land in the test artifacts (the README's pictures come from here).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#if LUMORY_TEST_EDS
#include "eds/eds_fixture.h"
#endif
#if LUMORY_TEST_PULSE
#include "pulse/pulse_server.h"
#endif
#include "dbus/settings_portal.h"
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
namespace fs = std::filesystem;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kReferenceService = LUMORY_REFERENCE_SERVICE;
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
const std::string kCalendarHelper = LUMORY_CALENDAR_HELPER_BINARY;
const std::string kAudioHelper = LUMORY_AUDIO_HELPER_BINARY;
const std::string kTestServices = LUMORY_TEST_SERVICES;
constexpr char kOverlayTitle[] = "Lumory live overlay";
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

// The mean brightness, 0 to 1, of a rectangle of a PNG; -1 when it cannot be read.
double meanBrightness(const std::string& path, int x, int y, int width, int height) {
    std::string command = "timeout 20 convert '" + path + "' -crop " + std::to_string(width) + "x" +
                          std::to_string(height) + "+" + std::to_string(x) + "+" +
                          std::to_string(y) +
                          " +repage -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null";
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr) return -1;
    double mean = -1;
    if (std::fscanf(output, "%lf", &mean) != 1) mean = -1;
    pclose(output);
    return mean;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

double nowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct ServiceAnswer {
    int status = 0;  // 0: no answer
    std::string body;
};

// Asks the service for `route` below the page's address (http://127.0.0.1:port/secret/...), as
// the page itself would, with `body` as JSON unless it is null. HTTP/1.0, so the answer comes
// whole rather than in chunks.
ServiceAnswer askService(const std::string& pageUrl, const std::string& method,
                         const std::string& route, const json& body = nullptr) {
    const std::string scheme = "http://127.0.0.1:";
    if (pageUrl.rfind(scheme, 0) != 0) return {};
    size_t slash = pageUrl.find('/', scheme.size());
    if (slash == std::string::npos) return {};
    std::string hostAndPort = pageUrl.substr(7, slash - 7);
    int port = std::stoi(pageUrl.substr(scheme.size(), slash - scheme.size()));
    std::string path = pageUrl.substr(slash, pageUrl.find('?') - slash);
    path = path.substr(0, path.rfind('/') + 1) + route;

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string request =
        method + " " + path + " HTTP/1.0\r\nHost: " + hostAndPort + "\r\nConnection: close\r\n";
    if (!body.is_null()) {
        std::string text = body.dump();
        request +=
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(text.size()) +
            "\r\n\r\n" + text;
    } else {
        request += "\r\n";
    }
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char chunk[4096];
        ssize_t count;
        while (answer.size() < (1u << 20) && (count = read(fd, chunk, sizeof chunk)) > 0) {
            answer.append(chunk, static_cast<size_t>(count));
        }
    }
    close(fd);
    ServiceAnswer result;
    if (answer.size() > 12) result.status = std::atoi(answer.c_str() + 9);
    size_t headersEnd = answer.find("\r\n\r\n");
    if (headersEnd != std::string::npos) result.body = answer.substr(headersEnd + 4);
    return result;
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
        {{"id", "a1"},
         {"title", "Book the hotel"},
         {"due", localTime(0, 23, 30)},
         {"done", false},
         {"note", "Trip to Lyon.md"},
         {"created", 1}},
        {{"id", "a2"},
         {"title", "Call Ana about the weekend"},
         {"due", localTime(0, 23, 45)},
         {"done", false},
         {"note", nullptr},
         {"created", 2}},
        {{"id", "a3"},
         {"title", "Buy lemons"},
         {"due", nullptr},
         {"done", false},
         {"note", "Groceries.md"},
         {"created", 3}},
        {{"id", "a4"},
         {"title", "Renew the train pass"},
         {"due", localTime(1, 9, 0)},
         {"done", false},
         {"note", nullptr},
         {"created", 4}},
        {{"id", "a5"},
         {"title", "Water the plants"},
         {"due", localTime(0, 8, 0)},
         {"done", true},
         {"doneAt", localTime(0, 8, 5)},
         {"note", nullptr},
         {"created", 5}},
    });
    std::ofstream(workspace / ".lumory" / "tasks.json") << json{{"version", 1}, {"tasks", tasks}};
}

// An iCalendar UTC time, as EDS stores it, of today (plus `days`) at the given local time.
std::string icalTime(int days, int hour, int minute) {
    std::time_t at = static_cast<std::time_t>(localTime(days, hour, minute) / 1000.0);
    std::tm parts{};
    gmtime_r(&at, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

class ServiceOnDisplayTest : public ::testing::Test {
protected:
    // Run under tests/support/eds/eds_session.sh, the private calendar gets a day of events and a
    // reminder, and every shell the session bus that reaches them.
    static void SetUpTestSuite() {
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (bus == nullptr || *bus == '\0') return;
        calendarBus = bus;
#if LUMORY_TEST_EDS
        testsupport::EdsFixture eds;
        auto event = [&](const std::string& uid, const std::string& summary, int hour, int minute,
                         int minutes) {
            eds.addComponent(testsupport::EdsFixture::kPersonalCalendar,
                             "BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + summary +
                                 "\r\nDTSTART:" + icalTime(0, hour, minute) + "\r\nDTEND:" +
                                 icalTime(0, hour, minute + minutes) + "\r\nEND:VEVENT\r\n");
        };
        event("lumory-tour-1", "Team stand-up", 9, 30, 15);
        event("lumory-tour-2", "Lunch with Ana", 12, 30, 60);
        event("lumory-tour-3", "Pottery class", 18, 0, 90);
        eds.addComponent(testsupport::EdsFixture::kPersonalTaskList,
                         "BEGIN:VTODO\r\nUID:lumory-tour-4\r\nSUMMARY:Return the library books"
                         "\r\nDUE:" +
                             icalTime(0, 17, 0) + "\r\nEND:VTODO\r\n");
#endif
    }

    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        fs::create_directories(kArtifacts);
    }

    void screenshot(const std::string& name, std::chrono::milliseconds settle) {
        std::this_thread::sleep_for(settle);
        EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/" + name, 15000)) << name;
    }

    // The shell with the service and both helpers over the seeded workspace, until the page
    // shows the day's tasks; `pageUrl` gets the page's address.
    void openOnToday(ShellUnderTest& shell, std::string& pageUrl,
                     std::vector<std::string> environment = {}) {
        ASSERT_TRUE(shell.addHelper(kCalendarHelper));
        ASSERT_TRUE(shell.addHelper(kAudioHelper));
        seedWorkspace(fs::path(shell.root()) / "home" / "Lumory");
        environment.push_back("LUMORY_DESKTOP_PORT=0");
        if (!calendarBus.empty()) {
            environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + calendarBus);
        }
        ASSERT_TRUE(shell.start(display, environment));
        auto loaded = shell.waitForProbe(isServicePage, 30s);
        ASSERT_TRUE(loaded) << shell.standardError();
        pageUrl = loaded->value("url", "");
        // The page opens on the day's tasks once it has asked the service for the workspace.
        ASSERT_TRUE(shell.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "title" &&
                       report.value("title", "") == "Today – Lumory";
            },
            20s))
            << "the page did not show the day's tasks";
    }

    // Clicks the newest note, first in the sidebar's list, until the page shows it.
    void openTheNewestNote(ShellUnderTest& shell, const WindowGeometry& window, XvfbInput& input) {
        input.click(1, window.x + 120, window.y + 285);
        ASSERT_TRUE(shell.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "title" &&
                       report.value("title", "") == "Trip to Lyon – Lumory";
            },
            10s))
            << "the note did not open";
    }

    XvfbDisplay display{1600, 1000};
    // The session bus of the private calendar, empty when there is none.
    static inline std::string calendarBus;
};

// The workspace on a desktop set to the dark style, which a stand-in portal on the shell's session
// bus publishes: the page draws itself dark. First of the cases: a shell on a bus without a
// session manager makes GTK start the real portal for its inhibit requests, and that one would
// hold the portal's name on the calendar's bus from then on.
TEST_F(ServiceOnDisplayTest, TheWorkspaceInTheDesktopsDarkStyle) {
    // On the private calendar's bus when there is one, so the calendar panel has its day.
    std::unique_ptr<XvfbSessionBus> ownBus;
    std::string bus = calendarBus;
    if (bus.empty()) {
        ownBus = std::make_unique<XvfbSessionBus>(false);
        ASSERT_TRUE(ownBus->started());
        bus = ownBus->address();
    }
    SettingsPortal portal(bus, 1);
    ASSERT_TRUE(portal.started()) << "another portal owns the name on the session bus";
    ShellUnderTest shell(kShell, kReferenceService);
    std::string pageUrl;
    ASSERT_NO_FATAL_FAILURE(openOnToday(shell, pageUrl, {"DBUS_SESSION_BUS_ADDRESS=" + bus}));
    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    ASSERT_NO_FATAL_FAILURE(openTheNewestNote(shell, *window, input));
    screenshot("service-dark.png", kPaintSettle);
    double brightness = meanBrightness(kArtifacts + "/service-dark.png", window->x, window->y,
                                       window->width, window->height);
    EXPECT_GE(brightness, 0);
    EXPECT_LT(brightness, 0.3) << "the page is not dark";
    EXPECT_NE(shell.stop(10s), -1);
}

TEST_F(ServiceOnDisplayTest, MenuCommandsActOnTheWorkspaceAndEditsReachTheDisk) {
    ShellUnderTest shell(kShell, kReferenceService);
    fs::path workspace = fs::path(shell.root()) / "home" / "Lumory";
    std::string pageUrl;
    ASSERT_NO_FATAL_FAILURE(openOnToday(shell, pageUrl));
    // The address carries the secret path the service chose.
    EXPECT_GT(pageUrl.size(), std::string("http://127.0.0.1:1/").size() + 20);
    if (!calendarBus.empty()) {
        // The calendar helper beside the service reads the private calendar.
        json calendar;
        for (auto deadline = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(200ms)) {
            ServiceAnswer answer = askService(pageUrl, "GET", "api/state");
            auto state = json::parse(answer.body, nullptr, false);
            if (state.is_discarded() || !state["calendar"].is_object()) {
                calendar = {{"answer", answer.status}, {"body", answer.body}};
                continue;
            }
            calendar = state["calendar"];
            if (calendar.value("state", "") == "ready") break;
        }
        EXPECT_EQ(calendar.value("state", ""), "ready") << calendar.dump();
        EXPECT_EQ(calendar["events"].size(), 3u) << calendar.dump();
        EXPECT_EQ(calendar["reminders"].size(), 1u) << calendar.dump();
    }
    screenshot("service-today.png", kPaintSettle);

    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    ASSERT_NO_FATAL_FAILURE(openTheNewestNote(shell, *window, input));
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

// A reminder that falls due while Lumory is in front shows in the page with its buttons, and the
// page's "Live" button opens the overlay above the notes (a window manager keeps it there).
TEST_F(ServiceOnDisplayTest, AReminderInThePageAndTheLiveOverlayAboveIt) {
    XvfbWindowManager windowManager(display);
    ASSERT_TRUE(windowManager.started()) << windowManager.errors();
    std::vector<std::string> sound;
#if LUMORY_TEST_PULSE
    // A private sound server playing a tone, for the overlay's level meter.
    testsupport::PulseServer pulse;
    ASSERT_TRUE(pulse.ready()) << pulse.failure();
    EXPECT_TRUE(pulse.pactl({"load-module", "module-sine", "sink=testsink", "frequency=440"}));
    sound.push_back(std::string("PULSE_SERVER=") + std::getenv("PULSE_SERVER"));
#endif
    ShellUnderTest shell(kShell, kReferenceService);
    fs::path workspace = fs::path(shell.root()) / "home" / "Lumory";
    std::string pageUrl;
    ASSERT_NO_FATAL_FAILURE(openOnToday(shell, pageUrl, sound));
    auto window = findWindow(display.name(), "Lumory");
    ASSERT_TRUE(window);
    XvfbInput input(display.name());
    ASSERT_TRUE(input.connected());
    // A click on the empty part of the task list puts Lumory in front.
    input.click(1, window->x + 700, window->y + 650);

    // A task due in a few seconds, added as the page adds one; the page passes the new
    // schedule to the shell.
    double due = nowMs() + 6000;
    json task = {{"title", "Pick up the train tickets"}, {"due", due}, {"note", "Trip to Lyon.md"}};
    ASSERT_EQ(askService(pageUrl, "POST", "api/tasks", task).status, 201);
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "notification-added" &&
                   report.value("identifier", "").rfind("lumory.reminder.", 0) == 0;
        },
        10s))
        << "the page did not schedule the reminder";
    // In front, the page is told instead of a desktop banner; only the sound reaches the desktop.
    ASSERT_TRUE(shell.waitForProbe(
        [](const json& report) { return report.value("event", "") == "event-sound"; }, 20s))
        << "the reminder was not delivered to the page";
    EXPECT_GE(nowMs(), due - 1000) << "delivered before its time";
    screenshot("service-reminder.png", kPaintSettle);
    // Its "Done" button, bottom centre of the page, completes the task in the workspace.
    input.click(1, window->x + 847, window->y + 854);
    bool completed = false;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !completed && std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(100ms)) {
        json saved = json::parse(readFile(workspace / ".lumory" / "tasks.json"), nullptr, false);
        if (saved.is_discarded()) continue;
        for (const json& task : saved["tasks"]) {
            completed = completed || (task.value("title", "") == "Pick up the train tickets" &&
                                      task.value("done", false));
        }
    }
    EXPECT_TRUE(completed) << "the banner's Done did not complete the task";

    // The overlay opens from the top bar's "Live" button, 96 pixels in from the window's right.
    std::optional<json> overlay;
    for (int attempt = 0; attempt < 2 && !overlay; ++attempt) {
        input.click(1, window->x + window->width - 96, window->y + 27);
        overlay = shell.waitForProbe(
            [](const json& report) {
                return report.value("event", "") == "load-finished" &&
                       report.value("url", "").find("?live=overlay") != std::string::npos;
            },
            15s);
    }
    ASSERT_TRUE(overlay) << "the Live button did not open the overlay\n" << shell.standardError();
    // The pointer leaves the button, so its tooltip goes.
    input.movePointer(window->x + 700, window->y + 650);
    std::optional<WindowGeometry> shown;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !shown && std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(100ms)) {
        shown = findWindow(display.name(), kOverlayTitle);
    }
    ASSERT_TRUE(shown) << "no overlay window";
    EXPECT_TRUE(stackedAbove(display.name(), kOverlayTitle, "Lumory"));
    EXPECT_TRUE(display.screenshotOnceDrawn(shell.root() + "/overlay-alone.png", 20000, shown->x,
                                            shown->y, shown->width, shown->height))
        << "the overlay stayed blank";
    screenshot("service-overlay.png", kPaintSettle);

    int status = shell.stop(10s);
    ASSERT_NE(status, -1) << "the shell did not quit";
    json tasks = json::parse(readFile(workspace / ".lumory" / "tasks.json"), nullptr, false);
    ASSERT_FALSE(tasks.is_discarded());
    EXPECT_EQ(tasks["tasks"].size(), 6u);
}

// What a person sees when the service cannot start: the shell's own page with the reason.
TEST_F(ServiceOnDisplayTest, AServiceThatCannotStartShowsTheFailurePage) {
    ShellUnderTest shell(kShell, kTestServices + "/exits_with_status_3.sh");
    ASSERT_TRUE(shell.start(display));
    auto page = shell.waitForProbe(
        [](const json& report) {
            return report.value("event", "") == "load-finished" &&
                   report.value("url", "") == "about:blank";
        },
        30s);
    ASSERT_TRUE(page) << shell.standardError();
    EXPECT_EQ(page->value("text", ""),
              "Lumory could not open\nThe local Lumory service stopped unexpectedly (status 3).");
    screenshot("service-failure.png", 2s);
}

}  // namespace
}  // namespace lumory::testing
