// The daily update check over fakes: when it asks the feed, what it makes of the answer, and
// what the prompt's buttons do.
#include <gtest/gtest.h>

#include <algorithm>

#include "shell_fixture.h"
#include "updates/update_checker.h"

namespace lumory::fakes {
namespace {

using namespace std::chrono_literals;

constexpr char kFeed[] = "https://releases.example.org/lumory/updates.json";
constexpr double kDay = 86400;

TEST(UpdatesVersionTest, ComparesDottedNumbersComponentByComponent) {
    EXPECT_TRUE(updates::isNewer("1.10", "1.9"));
    EXPECT_FALSE(updates::isNewer("1.9", "1.10"));
    EXPECT_FALSE(updates::isNewer("1.2.0", "1.2"));
    EXPECT_FALSE(updates::isNewer("1.2", "1.2.0"));
    EXPECT_TRUE(updates::isNewer("1.2.1", "1.2"));
    EXPECT_FALSE(updates::isNewer("1.2", "1.2.1"));
    EXPECT_FALSE(updates::isNewer("1.4.2", "1.4.2"));
    EXPECT_TRUE(updates::isNewer("2", "1.99.99"));
}

TEST(UpdatesVersionTest, CountsWhatIsNotAWholeNumberAsZero) {
    EXPECT_FALSE(updates::isNewer("x", "0"));
    EXPECT_FALSE(updates::isNewer("2.0-beta", "2"));
    EXPECT_FALSE(updates::isNewer("2", "2.0-beta"));
    EXPECT_TRUE(updates::isNewer("2.1", "2.0-beta"));
    EXPECT_FALSE(updates::isNewer("1.rc1", "1"));
    EXPECT_FALSE(updates::isNewer("1. 2", "1"));
    // Larger than any 64-bit number.
    EXPECT_FALSE(updates::isNewer("99999999999999999999", "0"));
    EXPECT_TRUE(updates::isNewer("9223372036854775807", "1"));
    // Signs are part of a whole number; a sign alone is not.
    EXPECT_TRUE(updates::isNewer("0", "-1"));
    EXPECT_TRUE(updates::isNewer("+2", "1"));
    EXPECT_FALSE(updates::isNewer("+-2", "0"));
    EXPECT_FALSE(updates::isNewer("-", "0"));
}

TEST(UpdatesVersionTest, DropsEmptyComponents) {
    EXPECT_FALSE(updates::isNewer("1..2", "1.2"));
    EXPECT_FALSE(updates::isNewer("1.2", "1..2"));
    EXPECT_TRUE(updates::isNewer("1..3", "1.2"));
    EXPECT_FALSE(updates::isNewer(".1.2.", "1.2"));
    EXPECT_FALSE(updates::isNewer("", "0"));
    EXPECT_FALSE(updates::isNewer("...", "0"));
    EXPECT_TRUE(updates::isNewer("0.0.1", ""));
}

TEST(UpdatesFeedTest, DecodesAReleaseWithStringVersionAndUrl) {
    auto release = updates::decodeRelease(
        R"({"version":"1.5.0","url":"https://x.example/d","notes":"https://x.example/n","size":3})");
    ASSERT_TRUE(release);
    EXPECT_EQ(release->version, "1.5.0");
    EXPECT_EQ(release->url, "https://x.example/d");
    EXPECT_EQ(release->notes, "https://x.example/n");

    release = updates::decodeRelease(R"({"version":"1.5.0","url":"u","notes":null})");
    ASSERT_TRUE(release);
    EXPECT_FALSE(release->notes);
    EXPECT_TRUE(updates::decodeRelease(R"({"version":"","url":""})"));

    for (const char* body : {
             R"({"version":"1.5.0"})",
             R"({"url":"https://x.example/d"})",
             R"({"version":1.5,"url":"https://x.example/d"})",
             R"({"version":"1.5.0","url":["https://x.example/d"]})",
             R"({"version":"1.5.0","url":null})",
             R"({"version":"1.5.0","url":"u","notes":7})",
             R"([{"version":"1.5.0","url":"u"}])",
             R"("1.5.0")",
             R"({"version":"1.5.0","url":"u"} trailing)",
             "<html>Internal Server Error</html>",
             "{\"version\":\"1.5\xff\",\"url\":\"u\"}",
             "",
         }) {
        EXPECT_FALSE(updates::decodeRelease(body)) << body;
    }
}

class UpdatesCheckTest : public ShellTest {
protected:
    updates::UpdateChecker checker{{http, settings, clock, system, queue, dialogs, desktop}};
    double now() const { return unixSeconds(clock.now()); }
    void lastCheckedAgo(double seconds) {
        settings.setDouble("LumoryUpdateLastCheck", now() - seconds);
    }
    void check(const std::string& current = "1.4.2") {
        checker.checkInBackground(kFeed, current);
    }
    // Answers the one request and lets the main queue run what it posted.
    void answer(std::optional<int> status, std::optional<std::string> body) {
        ASSERT_EQ(http.sent.size(), 1u);
        http.respond(HttpResponse{status, std::move(body)});
        queue.runPending();
    }
    std::optional<double> lastCheck() const {
        return settings.doubleValue("LumoryUpdateLastCheck");
    }
};

TEST_F(UpdatesCheckTest, AsksTheFeedOnceWithoutCacheAndWithAFifteenSecondTimeOut) {
    check();
    ASSERT_EQ(http.sent.size(), 1u);
    const HttpRequest& request = http.sent[0].request;
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.url, kFeed);
    EXPECT_EQ(request.timeout, 15s);
    EXPECT_TRUE(request.ignoreLocalCache);
    EXPECT_FALSE(request.body);
    EXPECT_FALSE(request.followRedirects) << "a redirect could leave the https/loopback rule";
    EXPECT_EQ(request.maxBodyBytes, 64u * 1024) << "a feed streaming for ever costs nothing";
}

TEST_F(UpdatesCheckTest, ASwitchedOffCheckMakesNoRequest) {
    settings.values["LumoryUpdateCheck"] = "false";
    EXPECT_FALSE(updates::isEnabled(settings));
    check();
    EXPECT_TRUE(http.sent.empty());

    // Anything but a boolean counts as absent: the check stays on.
    for (const char* value : {"no", "off", "False", "2", ""}) {
        settings.values["LumoryUpdateCheck"] = value;
        EXPECT_TRUE(updates::isEnabled(settings)) << value;
    }
    settings.values["LumoryUpdateCheck"] = "true";
    check();
    EXPECT_EQ(http.sent.size(), 1u);
}

TEST_F(UpdatesCheckTest, ChecksOnlyWhenMoreThanADayHasPassed) {
    lastCheckedAgo(kDay);
    check();
    EXPECT_TRUE(http.sent.empty()) << "exactly a day is not more than a day";

    lastCheckedAgo(kDay - 1);
    check();
    EXPECT_TRUE(http.sent.empty());

    lastCheckedAgo(kDay + 1);
    check();
    EXPECT_EQ(http.sent.size(), 1u);
}

TEST_F(UpdatesCheckTest, ADamagedOrFutureLastCheckDoesNotHoldTheCheckOff) {
    for (const char* value : {"nan", "inf", "soon", "1e300"}) {
        http.sent.clear();
        settings.values["LumoryUpdateLastCheck"] = value;
        check();
        EXPECT_EQ(http.sent.size(), 1u) << value;
    }
}

TEST_F(UpdatesCheckTest, AFeedThatDoesNotDecodeLeavesTheLastCheckAlone) {
    lastCheckedAgo(2 * kDay);
    const double before = *lastCheck();
    check();
    answer(200, R"({"version":"9.0"})");
    EXPECT_EQ(lastCheck(), before);
    EXPECT_TRUE(dialogs.sheets.empty());

    // Nothing arrived at all: a transport error or the time-out.
    check();
    answer(std::nullopt, std::nullopt);
    EXPECT_EQ(lastCheck(), before);
    EXPECT_TRUE(dialogs.sheets.empty());
}

TEST_F(UpdatesCheckTest, TheCurrentVersionUpdatesTheLastCheckAndShowsNothing) {
    check("1.4.2");
    clock.advance(3s);
    answer(200, R"({"version":"1.4.2","url":"https://x.example/d"})");
    ASSERT_TRUE(lastCheck());
    EXPECT_NEAR(*lastCheck(), now(), 0.001);
    EXPECT_TRUE(dialogs.sheets.empty());

    clock.advance(std::chrono::seconds(static_cast<int>(kDay) + 1));
    check("1.4.2");
    answer(200, R"({"version":"1.3.9","url":"https://x.example/d"})");
    EXPECT_NEAR(*lastCheck(), now(), 0.001);
    EXPECT_TRUE(dialogs.sheets.empty());
}

TEST_F(UpdatesCheckTest, OnlyASuccessfulAnswerIsAFeed) {
    lastCheckedAgo(2 * kDay);
    const double before = *lastCheck();
    for (int status : {500, 404, 302, 301, 199, 300}) {
        http.sent.clear();
        check("1.4.2");
        answer(status, R"({"version":"1.5.0","url":"https://x.example/d"})");
        EXPECT_TRUE(dialogs.sheets.empty()) << status;
        EXPECT_EQ(lastCheck(), before) << status;
    }
}

TEST_F(UpdatesCheckTest, AnyTwoHundredAnswerIsUsed) {
    check("1.4.2");
    http.respond(HttpResponse{203, R"({"version":"1.5.0","url":"https://x.example/d"})"});
    EXPECT_TRUE(dialogs.sheets.empty()) << "the prompt comes through the main queue";
    queue.runPending();
    ASSERT_EQ(dialogs.sheets.size(), 1u);
    EXPECT_EQ(dialogs.sheets[0].spec.text, "Lumory 1.5.0 is available");
    EXPECT_EQ(dialogs.sheets[0].spec.secondaryText, "You have 1.4.2.");
    EXPECT_EQ(dialogs.sheets[0].spec.buttons,
              (std::vector<std::string>{"Download", "Later", "Skip This Version"}));
    EXPECT_FALSE(dialogs.sheets[0].spec.textField);
    EXPECT_NEAR(*lastCheck(), now(), 0.001);
}

TEST_F(UpdatesCheckTest, ASkippedVersionIsNotOfferedButTheTimeAdvances) {
    check("1.4.2");
    answer(200, R"({"version":"1.5.0","url":"https://x.example/d"})");
    ASSERT_EQ(dialogs.sheets.size(), 1u);
    dialogs.answer(2);
    EXPECT_EQ(settings.stringValue("LumoryUpdateSkipped"), "1.5.0");
    EXPECT_TRUE(desktop.openedUris.empty());

    clock.advance(std::chrono::seconds(static_cast<int>(kDay) + 1));
    check("1.4.2");
    answer(200, R"({"version":"1.5.0","url":"https://x.example/d"})");
    EXPECT_TRUE(dialogs.sheets.empty());
    EXPECT_NEAR(*lastCheck(), now(), 0.001);

    // Equality is exact: the same number spelt otherwise, or a later release, is offered.
    clock.advance(std::chrono::seconds(static_cast<int>(kDay) + 1));
    check("1.4.2");
    answer(200, R"({"version":"1.5","url":"https://x.example/d"})");
    ASSERT_EQ(dialogs.sheets.size(), 1u);
    EXPECT_EQ(dialogs.sheets[0].spec.text, "Lumory 1.5 is available");
}

TEST_F(UpdatesCheckTest, LaterAndAClosedDialogChangeNothing) {
    check("1.4.2");
    answer(200, R"({"version":"1.5.0","url":"https://x.example/d"})");
    dialogs.answer(1);
    clock.advance(std::chrono::seconds(static_cast<int>(kDay) + 1));
    check("1.4.2");
    answer(200, R"({"version":"1.5.0","url":"https://x.example/d"})");
    ASSERT_EQ(dialogs.sheets.size(), 1u) << "Later asks again the next day";
    dialogs.answer(-1);
    EXPECT_FALSE(settings.stringValue("LumoryUpdateSkipped"));
    EXPECT_TRUE(desktop.openedUris.empty());
}

TEST_F(UpdatesCheckTest, DownloadOpensTheNotesPageOrElseTheDownload) {
    struct Case {
        const char* feed;
        std::vector<std::string> opened;
    } cases[] = {
        {R"({"version":"2","url":"https://x.example/d","notes":"https://x.example/n"})",
         {"https://x.example/n"}},
        {R"({"version":"2","url":"https://x.example/d"})", {"https://x.example/d"}},
        {R"({"version":"2","url":"https://x.example/d","notes":"release notes"})",
         {"https://x.example/d"}},
        {R"({"version":"2","url":"https://x.example/d","notes":"/notes.html"})",
         {"https://x.example/d"}},
        {R"({"version":"2","url":"http://x.example/d","notes":""})", {"http://x.example/d"}},
        {R"({"version":"2","url":"not a url","notes":"neither"})", {}},
        // Only web addresses leave the shell, whatever the feed says.
        {R"({"version":"2","url":"file:///etc/passwd"})", {}},
        {R"({"version":"2","url":"https://x.example/d","notes":"ssh://x.example"})",
         {"https://x.example/d"}},
        {R"({"version":"2","url":"https://x.example/d\u0000evil"})", {}},
    };
    for (const Case& test : cases) {
        desktop.openedUris.clear();
        http.sent.clear();
        settings.values.clear();
        check("1");
        answer(200, test.feed);
        ASSERT_EQ(dialogs.sheets.size(), 1u) << test.feed;
        dialogs.answer(0);
        EXPECT_EQ(desktop.openedUris, test.opened) << test.feed;
        EXPECT_FALSE(settings.stringValue("LumoryUpdateSkipped"));
    }
}

TEST_F(UpdatesCheckTest, ABuildWithoutAFeedMakesNoRequest) {
    // This test program is built without a feed address, as distribution packages are.
    EXPECT_EQ(updates::feedURL(system), "");
    checker.checkInBackground();
    EXPECT_TRUE(http.sent.empty());
}

TEST_F(UpdatesCheckTest, TheEnvironmentOverridesTheFeedWithHttpsOrALoopbackAddress) {
    for (const char* accepted :
         {"https://feed.example/updates.json", "http://127.0.0.1:8123/updates.json",
          "http://localhost/updates.json", "http://[::1]:9/updates.json"}) {
        system.environment["LUMORY_UPDATE_FEED"] = accepted;
        EXPECT_EQ(updates::feedURL(system), accepted);
    }
    for (const char* refused : {"http://feed.example/updates.json", "ftp://127.0.0.1/u.json",
                                "updates.json", "https:///updates.json", "file:///tmp/u.json"}) {
        system.environment["LUMORY_UPDATE_FEED"] = refused;
        EXPECT_EQ(updates::feedURL(system), "") << refused;
    }
    system.environment["LUMORY_UPDATE_FEED"] = "";
    EXPECT_EQ(updates::feedURL(system), "") << "empty means not set";
}

TEST_F(UpdatesCheckTest, AVersionlessBuildIsVersionZero) {
    // This test program is built without a version, as a build that sets none.
    EXPECT_EQ(updates::currentVersion(), "0");
    system.environment["LUMORY_UPDATE_FEED"] = "http://127.0.0.1:8123/updates.json";
    checker.checkInBackground();
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(http.sent[0].request.url, "http://127.0.0.1:8123/updates.json");
    answer(200, R"({"version":"0.0.1","url":"https://x.example/d"})");
    ASSERT_EQ(dialogs.sheets.size(), 1u);
    EXPECT_EQ(dialogs.sheets[0].spec.text, "Lumory 0.0.1 is available");
    EXPECT_EQ(dialogs.sheets[0].spec.secondaryText, "You have 0.");
}

TEST_F(UpdatesCheckTest, StartUpAsksTheFeedAndGoesOnWithoutWaiting) {
    system.environment["LUMORY_UPDATE_FEED"] = kFeed;
    launch();
    auto feed = std::find_if(http.sent.begin(), http.sent.end(),
                             [](const auto& sent) { return sent.request.url == kFeed; });
    ASSERT_NE(feed, http.sent.end());
    EXPECT_EQ(std::count_if(http.sent.begin(), http.sent.end(),
                            [](const auto& sent) { return sent.request.url == kFeed; }),
              1);
    EXPECT_EQ(desktop.events.back(), "activate") << "activated with the feed still unanswered";
    feed->done(HttpResponse{200, R"({"version":"1.0","url":"https://x.example/d"})"});
    queue.runPending();
    EXPECT_EQ(dialogs.sheets.size(), 1u);
}

}  // namespace
}  // namespace lumory::fakes
