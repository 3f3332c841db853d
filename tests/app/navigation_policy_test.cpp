// Which addresses stay in the web view, which go to the desktop, and the page's panels.
#include "shell_fixture.h"

namespace lumory::fakes {
namespace {

using namespace std::chrono_literals;

constexpr char kReady[] = "{\"event\":\"ready\",\"url\":\"http://127.0.0.1:43981/\"}\n";

enum class Outcome { Inside, InView, Outside, Nowhere };

struct Case {
    const char* url;
    Outcome announced;   // with the service at http://127.0.0.1:43981/
    Outcome beforehand;  // before the service announced itself
};

class NavigationPolicyTest : public ShellTest {
protected:
    void SetUp() override { launch(); }

    Outcome navigate(const std::string& url) {
        desktop.openedUris.clear();
        NavigationPolicy policy = shell->page().decideNavigationPolicy(page(), url);
        if (policy == NavigationPolicy::Allow) {
            EXPECT_TRUE(desktop.openedUris.empty()) << url;
            return shell->page().isInternal(url) ? Outcome::Inside : Outcome::InView;
        }
        if (desktop.openedUris.empty()) return Outcome::Nowhere;
        EXPECT_EQ(desktop.openedUris, std::vector<std::string>{url});
        return Outcome::Outside;
    }
};

TEST_F(NavigationPolicyTest, OneTableOfAddressesBeforeAndAfterTheServiceAnnouncedItself) {
    const Case cases[] = {
        {"http://127.0.0.1:43981/", Outcome::Inside, Outcome::Outside},
        {"http://127.0.0.1:43981/notes/1?x=2#top", Outcome::Inside, Outcome::Outside},
        {"http://127.0.0.1:43982/", Outcome::Outside, Outcome::Outside},
        {"http://127.0.0.1/", Outcome::Outside, Outcome::Outside},
        {"http://127.0.0.1:80/", Outcome::Outside, Outcome::Outside},
        {"http://localhost:43981/", Outcome::Outside, Outcome::Outside},
        {"https://127.0.0.1:43981/", Outcome::Outside, Outcome::Outside},
        // Scheme and host compare as written; only outside schemes ignore case.
        {"HTTP://127.0.0.1:43981/", Outcome::Outside, Outcome::Outside},
        {"https://example.com/page", Outcome::Outside, Outcome::Outside},
        {"mailto:someone@example.com", Outcome::Outside, Outcome::Outside},
        {"MailTo:someone@example.com", Outcome::Outside, Outcome::Outside},
        {"about:blank", Outcome::InView, Outcome::InView},
        {"blob:http://127.0.0.1:43981/5f0c", Outcome::InView, Outcome::InView},
        {"data:text/html,<p>hi</p>", Outcome::InView, Outcome::InView},
        {"DATA:text/plain,x", Outcome::Nowhere, Outcome::Nowhere},
        {"file:///etc/passwd", Outcome::Nowhere, Outcome::Nowhere},
        {"lumory-custom:open?id=1", Outcome::Nowhere, Outcome::Nowhere},
        {"javascript:alert(1)", Outcome::Nowhere, Outcome::Nowhere},
        {"//127.0.0.1:43981/relative", Outcome::Nowhere, Outcome::Nowhere},
        {"not a url", Outcome::Nowhere, Outcome::Nowhere},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.url);
        EXPECT_EQ(navigate(entry.url), entry.beforehand);
    }
    launcher.writeOutput(kReady);
    ASSERT_TRUE(shell->service().announcedServerURL());
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.url);
        EXPECT_EQ(navigate(entry.url), entry.announced);
    }
    // A request without an address is let through.
    EXPECT_EQ(shell->page().decideNavigationPolicy(page(), ""), NavigationPolicy::Allow);
}

TEST_F(NavigationPolicyTest, NewWindowsLoadInTheAskingViewOrLeave) {
    launcher.writeOutput(kReady);
    size_t loads = page().loads.size();
    shell->page().newWindowRequested(page(), "http://127.0.0.1:43981/second");
    ASSERT_EQ(page().loads.size(), loads + 1);
    EXPECT_EQ(page().lastLoad()->content, "http://127.0.0.1:43981/second");
    EXPECT_EQ(page().lastLoad()->timeout, std::chrono::seconds(60));
    EXPECT_EQ(page().lastLoad()->cachePolicy, CachePolicy::UseProtocolDefault);

    FakeWebView overlay;
    shell->page().newWindowRequested(overlay, "http://127.0.0.1:43981/live");
    EXPECT_EQ(overlay.loads.size(), 1u) << "the view that asked loads it";

    shell->page().newWindowRequested(page(), "https://example.com/");
    shell->page().newWindowRequested(page(), "blob:http://127.0.0.1:43981/5f0c");
    shell->page().newWindowRequested(page(), "");
    EXPECT_EQ(desktop.openedUris, std::vector<std::string>{"https://example.com/"});
    EXPECT_EQ(page().loads.size(), loads + 1);
}

TEST_F(NavigationPolicyTest, PanelsCarryTheTextsAndAnswerOnce) {
    int alertsDone = 0;
    shell->page().showScriptAlert(page(), "Saved.", [&] { ++alertsDone; });
    std::vector<bool> confirms;
    shell->page().showScriptConfirm(page(), "Delete?",
                                        [&](bool ok) { confirms.push_back(ok); });
    shell->page().showScriptConfirm(page(), "Delete?",
                                        [&](bool ok) { confirms.push_back(ok); });
    std::vector<std::optional<std::string>> prompts;
    auto prompt = [&](const std::string& defaultText) {
        shell->page().showScriptPrompt(
            page(), "Name?", defaultText,
            [&](std::optional<std::string> text) { prompts.push_back(std::move(text)); });
    };
    prompt("draft");
    prompt("");
    prompt("x");

    const auto& sheets = this->dialogs.sheets;
    ASSERT_EQ(sheets.size(), 6u);
    EXPECT_EQ(sheets[0].spec.text, "Lumory");
    EXPECT_EQ(sheets[0].spec.secondaryText, "Saved.");
    EXPECT_EQ(sheets[0].spec.buttons, std::vector<std::string>{"OK"});
    EXPECT_FALSE(sheets[0].spec.textField);
    EXPECT_EQ(sheets[1].spec.secondaryText, "Delete?");
    EXPECT_EQ(sheets[1].spec.buttons, (std::vector<std::string>{"OK", "Cancel"}));
    EXPECT_EQ(sheets[3].spec.text, "Name?");
    EXPECT_EQ(sheets[3].spec.secondaryText, "");
    EXPECT_EQ(sheets[3].spec.textField, "draft");
    EXPECT_EQ(sheets[4].spec.textField, "");

    this->dialogs.answer(0);
    EXPECT_EQ(alertsDone, 1);
    this->dialogs.answer(0);
    this->dialogs.answer(-1);  // Escape or the dialog went away
    EXPECT_EQ(confirms, (std::vector<bool>{true, false}));
    this->dialogs.answer(0, "Ada");
    this->dialogs.answer(0, "");
    this->dialogs.answer(1, "typed, then cancelled");
    EXPECT_EQ(prompts, (std::vector<std::optional<std::string>>{"Ada", "", std::nullopt}));
}

TEST_F(NavigationPolicyTest, OpenPanelAndCrashedViewsAndReload) {
    std::optional<std::vector<std::string>> chosen;
    shell->page().chooseFiles(page(), {true, true}, [&](auto files) { chosen = std::move(files); });
    ASSERT_EQ(dialogs.openPanels.size(), 1u);
    EXPECT_TRUE(dialogs.openPanels[0].options.allowsDirectories);
    EXPECT_TRUE(dialogs.openPanels[0].options.allowsMultipleSelection);
    dialogs.openPanels[0].done(std::vector<std::string>{"file:///tmp/a.txt"});
    EXPECT_EQ(chosen, std::vector<std::string>{"file:///tmp/a.txt"});

    // A crashed view reloads whatever is connected; Reload waits for the service's page.
    FakeWebView overlay;
    shell->page().webProcessTerminated(overlay);
    shell->page().webProcessTerminated(page());
    EXPECT_EQ(overlay.reloads, 1);
    EXPECT_EQ(page().reloads, 1);
    shell->page().reloadPage();
    EXPECT_EQ(page().reloads, 1);
    launcher.writeOutput(kReady);
    shell->page().reloadPage();
    EXPECT_EQ(page().reloads, 2);
}

TEST_F(NavigationPolicyTest, APageThatKeepsCrashingIsReloadedLessOftenThenGivenUp) {
    launcher.writeOutput(kReady);
    finishLoading();
    shell->page().webProcessTerminated(page());
    EXPECT_EQ(page().reloads, 1) << "the first crash reloads at once";
    finishLoading();
    shell->page().webProcessTerminated(page());
    EXPECT_EQ(page().reloads, 1);
    queue.advance(1999ms);
    EXPECT_EQ(page().reloads, 1);
    queue.advance(1ms);
    EXPECT_EQ(page().reloads, 2) << "the second after a pause";
    shell->page().webProcessTerminated(page());
    EXPECT_EQ(page().reloads, 2);
    const FakeWebView::Load* shown = page().lastLoad();
    ASSERT_FALSE(shown->isRequest);
    EXPECT_NE(shown->content.find("stopped working several times in a row"), std::string::npos);
    EXPECT_TRUE(shell->service().isConnected()) << "the service itself still runs";
    queue.advance(5min);
    EXPECT_EQ(page().reloads, 2);

    // Reload asks for the service's page again, with a fresh count.
    size_t loads = page().loads.size();
    desktop.choose("Reload");
    ASSERT_EQ(page().loads.size(), loads + 1);
    EXPECT_EQ(requestedUrl(), "http://127.0.0.1:43981/");
    finishLoading();
    shell->page().webProcessTerminated(page());
    EXPECT_EQ(page().reloads, 3);

    // A quiet minute forgets the crashes.
    finishLoading();
    queue.advance(61s);
    shell->page().webProcessTerminated(page());
    EXPECT_EQ(page().reloads, 4);
}

TEST_F(NavigationPolicyTest, TheOverlaysPageGivesUpAfterTheSameCrashesAndStaysBlank) {
    FakeWebView overlay;
    for (int crash = 0; crash < 5; ++crash) {
        shell->page().webProcessTerminated(overlay);
        queue.advance(3s);
    }
    EXPECT_EQ(overlay.reloads, 2);
    EXPECT_TRUE(overlay.loads.empty());
}

}  // namespace
}  // namespace lumory::fakes
