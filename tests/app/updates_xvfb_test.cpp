// The real shell on a private display asking a feed served on 127.0.0.1 (plain HTTP is allowed
// there through the feed override, so no certificate is needed). The dialog is read and pressed
// through the test probe, which reports its texts and buttons as the widgets hold them.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "http/http_test_server.h"
#include "xvfb/xvfb_display.h"
#include "xvfb/xvfb_input.h"
#include "xvfb/xvfb_shell.h"

namespace lumory::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

const std::string kShell = LUMORY_SHELL_BINARY;
const std::string kPlainPageService = LUMORY_TEST_SERVICES "/plain_page.js";
const std::string kArtifacts = LUMORY_TEST_ARTIFACTS;
const std::string kVersion = LUMORY_PROJECT_VERSION;

bool isDialog(const json& report) {
    return report.value("event", "") == "dialog";
}

std::string feedBody(const std::string& version) {
    return json{{"version", version},
                {"url", "https://releases.example.org/lumory-" + version + ".tar.gz"},
                {"notes", "https://releases.example.org/notes/" + version}}
        .dump();
}

class UpdateCheckOnDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display.started()) << "Xvfb did not start";
        ASSERT_FALSE(feed.url("/").empty()) << "the feed server did not listen";
        fs::create_directories(kArtifacts);
        std::string pattern = (fs::temp_directory_path() / "lumory-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        config = pattern;
        settings = config + "/lumory/settings.ini";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(config, ignored);
    }

    // Every launch shares one settings folder, as launches of one user do.
    bool launch(ShellUnderTest& shell) {
        return shell.start(display, {"LUMORY_DESKTOP_PORT=0", "XDG_CONFIG_HOME=" + config,
                                     "LUMORY_UPDATE_FEED=" + feed.url("/updates.json")});
    }

    std::optional<std::string> setting(const std::string& key) const {
        g_autoptr(GKeyFile) file = g_key_file_new();
        if (!g_key_file_load_from_file(file, settings.c_str(), G_KEY_FILE_NONE, nullptr)) {
            return std::nullopt;
        }
        g_autofree char* value = g_key_file_get_value(file, "Defaults", key.c_str(), nullptr);
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    }
    void setSetting(const std::string& key, const std::string& value) {
        fs::create_directories(fs::path(settings).parent_path());
        g_autoptr(GKeyFile) file = g_key_file_new();
        g_key_file_load_from_file(file, settings.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
        g_key_file_set_value(file, "Defaults", key.c_str(), value.c_str());
        ASSERT_TRUE(g_key_file_save_to_file(file, settings.c_str(), nullptr));
    }
    // As if the last check was a day and a second ago.
    void aDayPasses() {
        setSetting("LumoryUpdateLastCheck", std::to_string(g_get_real_time() / 1000000 - 86401));
    }
    bool settingBecomes(const std::function<bool(const std::optional<std::string>&)>& wanted,
                        const std::string& key, std::chrono::milliseconds limit) const {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!wanted(setting(key))) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    // Waits for both the service's page and the dialog, in whichever order they come.
    std::optional<json> pageAndDialog(ShellUnderTest& shell) {
        std::optional<json> dialog;
        bool loaded = false;
        shell.waitForProbe(
            [&](const json& report) {
                if (isDialog(report)) dialog = report;
                if (isServicePage(report)) loaded = true;
                return dialog && loaded;
            },
            40s);
        EXPECT_TRUE(loaded) << "the service's page never loaded";
        return dialog;
    }

    void press(const json& dialog, const std::string& label) {
        for (const json& button : dialog["buttons"]) {
            if (button.value("label", "") != label) continue;
            XvfbInput input(display.name());
            ASSERT_TRUE(input.connected());
            input.click(1, button.value("x", 0) + button.value("width", 0) / 2,
                        button.value("y", 0) + button.value("height", 0) / 2);
            return;
        }
        FAIL() << "no button " << label << " in " << dialog.dump();
    }

    void screenshot(const std::string& name) {
        // The dialog paints a moment after it is mapped.
        std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(display.screenshotOnceDrawn(kArtifacts + "/" + name, 15000));
    }

    XvfbDisplay display{1600, 1000};
    HttpTestServer feed;
    std::string config;
    std::string settings;
};

TEST_F(UpdateCheckOnDisplayTest, OffersANewerReleaseAndRemembersASkippedVersionAcrossLaunches) {
    feed.answer("/updates.json", {200, "application/json", feedBody("99.0.0")});
    {
        ShellUnderTest shell(kShell, kPlainPageService);
        ASSERT_TRUE(launch(shell));
        auto dialog = pageAndDialog(shell);
        ASSERT_TRUE(dialog) << "no dialog; stderr: " << shell.standardError();
        EXPECT_EQ(dialog->value("text", ""), "Lumory 99.0.0 is available");
        EXPECT_EQ(dialog->value("secondaryText", ""), "You have " + kVersion + ".");
        EXPECT_EQ(dialog->value("title", ""), "Lumory");
        EXPECT_TRUE(dialog->value("modal", false));
        std::vector<std::string> labels;
        for (const json& button : (*dialog)["buttons"]) labels.push_back(button.value("label", ""));
        EXPECT_EQ(labels, (std::vector<std::string>{"Download", "Later", "Skip This Version"}));
        screenshot("update-dialog.png");

        auto requests = feed.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].method, "GET");
        EXPECT_EQ(requests[0].path, "/updates.json");
        EXPECT_EQ(requests[0].headers["cache-control"], "no-cache");
        auto lastCheck = setting("LumoryUpdateLastCheck");
        ASSERT_TRUE(lastCheck);
        EXPECT_NEAR(std::stod(*lastCheck), g_get_real_time() / 1e6, 60);

        press(*dialog, "Skip This Version");
        EXPECT_TRUE(settingBecomes([](const auto& value) { return value == "99.0.0"; },
                                   "LumoryUpdateSkipped", 5s));
        EXPECT_NE(shell.stop(10s), -1) << "the shell did not quit";
    }
    {
        // The same day: the feed is not asked again.
        ShellUnderTest shell(kShell, kPlainPageService);
        ASSERT_TRUE(launch(shell));
        ASSERT_TRUE(shell.waitForProbe(isServicePage, 40s));
        EXPECT_FALSE(shell.waitForProbe(isDialog, 1500ms));
        EXPECT_EQ(feed.requests().size(), 1u);
        EXPECT_NE(shell.stop(10s), -1);
    }
    {
        // A day later the feed is asked and still names the skipped version: nothing is shown,
        // but the time of the check advances.
        aDayPasses();
        const auto before = setting("LumoryUpdateLastCheck");
        ShellUnderTest shell(kShell, kPlainPageService);
        ASSERT_TRUE(launch(shell));
        ASSERT_TRUE(feed.waitForRequests(2, 40s));
        EXPECT_TRUE(settingBecomes([&](const auto& value) { return value && value != before; },
                                   "LumoryUpdateLastCheck", 10s));
        ASSERT_TRUE(shell.waitForProbe(isServicePage, 40s));
        EXPECT_FALSE(shell.waitForProbe(isDialog, 1500ms)) << "the skipped version was offered";
        EXPECT_EQ(setting("LumoryUpdateSkipped"), "99.0.0");
        EXPECT_NE(shell.stop(10s), -1);
    }
}

TEST_F(UpdateCheckOnDisplayTest, SwitchedOffMeansNoRequestAndAHungFeedNeverHoldsStartUpOrQuit) {
    feed.answer("/updates.json", {200, "application/json", feedBody("99.0.0"), 0ms, true});
    setSetting("LumoryUpdateCheck", "false");
    {
        ShellUnderTest shell(kShell, kPlainPageService);
        ASSERT_TRUE(launch(shell));
        ASSERT_TRUE(shell.waitForProbe(isServicePage, 40s));
        EXPECT_FALSE(feed.waitForRequests(1, 1500ms)) << "a switched-off check asked the feed";
        EXPECT_NE(shell.stop(10s), -1);
    }
    setSetting("LumoryUpdateCheck", "not a boolean");
    {
        ShellUnderTest shell(kShell, kPlainPageService);
        ASSERT_TRUE(launch(shell));
        ASSERT_TRUE(feed.waitForRequests(1, 40s)) << "a flag that is not a boolean is no flag";
        ASSERT_TRUE(shell.waitForProbe(isServicePage, 40s)) << "start-up waited for the feed";
        // Well inside the feed's 15-second time-out.
        EXPECT_NE(shell.stop(10s), -1) << "quitting waited for the feed";
        EXPECT_FALSE(setting("LumoryUpdateLastCheck"));
    }
}

}  // namespace
}  // namespace lumory::testing
