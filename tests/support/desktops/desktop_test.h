#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktops/desktop_session.h"
#include "desktops/x11_test_window.h"

namespace lumory::testing {

// The fixture of a desktop's test program (the program defines LUMORY_SHELL_BINARY,
// LUMORY_TEST_SERVICES and LUMORY_TEST_ARTIFACTS): the desktop, started once for all cases, and
// the shell of the running case. A failed case leaves a picture of the screen behind.
template <typename Desktop>
class DesktopTest : public ::testing::Test {
protected:
    static constexpr char kMainTitle[] = "Lumory";
    static constexpr char kOtherTitle[] = "Other window";

    static void startDesktop(int width, int height) {
        desktop = new Desktop(width, height);
        if (desktop->started()) {
            std::cout << Desktop::kName << " started in " << desktop->startSeconds() << " s\n";
        }
    }
    static void TearDownTestSuite() {
        delete desktop;
        desktop = nullptr;
    }

    void SetUp() override {
        // The desktop runs as an unprivileged user of its own, which only root can become.
        if (geteuid() != 0) GTEST_SKIP() << "needs root to run the desktop as its test user";
        ASSERT_TRUE(desktop->started()) << desktop->failure();
        std::filesystem::create_directories(artifacts());
    }

    void TearDown() override {
        if (HasFailure()) {
            std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
            desktop->screenshot(artifacts() + "/" + Desktop::kName + "-failed-" + name + ".png");
            if (shell) std::cerr << (*shell)->standardError();
        }
        shell.reset();
        // The next case starts from a desktop without the last one's windows.
        eventually([] { return !desktop->window(kMainTitle); }, std::chrono::seconds(10));
    }

    static std::string artifacts() { return LUMORY_TEST_ARTIFACTS; }

    // Starts the shell on a stand-in service and waits for its page and its window. `install`
    // may add to the shell's tree (its root folder) before the shell starts.
    void launch(const std::string& service, std::vector<std::string> environment = {},
                const std::function<void(const std::string&)>& install = {}) {
        shell = std::make_unique<DesktopShell>(LUMORY_SHELL_BINARY,
                                               std::string(LUMORY_TEST_SERVICES) + "/" + service,
                                               desktop->session().user());
        if (install) install((*shell)->root());
        for (const std::string& entry : desktop->clientEnvironment()) environment.push_back(entry);
        environment.push_back("LUMORY_DESKTOP_PORT=0");
        ASSERT_TRUE(shell->start(desktop->x11Display(), environment));
        ASSERT_TRUE(shell->waitForPage(std::chrono::seconds(60))) << (*shell)->standardError();
        ASSERT_TRUE(eventually([] { return desktop->window(kMainTitle).has_value(); },
                               std::chrono::seconds(10)));
    }

    // Another application's window, once the desktop lists it; null when it never showed.
    std::unique_ptr<X11TestWindow> openOtherWindow(int x, int y, int width, int height) {
        auto other = std::make_unique<X11TestWindow>(desktop->x11Display(), kOtherTitle, x, y,
                                                     width, height);
        bool listed =
            other->mapped() && eventually([] { return desktop->window(kOtherTitle).has_value(); },
                                          std::chrono::seconds(10));
        return listed ? std::move(other) : nullptr;
    }

    // The page ("main" or "overlay") whose click counter in its title went up next.
    std::optional<std::string> clickedPage() {
        auto report = (*shell)->waitForProbe(
            [](const nlohmann::json& report) {
                return report.value("event", "") == "title" &&
                       report.value("title", "").find(" clicked ") != std::string::npos;
            },
            std::chrono::seconds(5));
        if (!report) return std::nullopt;
        std::string title = report->value("title", "");
        return title.substr(0, title.find(' '));
    }

    static inline Desktop* desktop = nullptr;
    std::unique_ptr<DesktopShell> shell;
};

}  // namespace lumory::testing
