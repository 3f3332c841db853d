// The libsoup client against a local server: what it sends, what comes back whatever the status,
// its per-request time-out, and silence once its owner is gone.
#include <gtest/gtest.h>

#include <memory>

#include "gtk/system/soup_http_client.h"
#include "http/http_test_server.h"

namespace lumory::gtk {
namespace {

using namespace std::chrono_literals;
using testing::HttpTestServer;

// Runs the default main context until `done` or `limit` passes.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(nullptr, FALSE);
        std::this_thread::sleep_for(1ms);
    }
    return done();
}

class SoupHttpClientTest : public ::testing::Test {
protected:
    std::optional<HttpResponse> send(HttpRequest request, std::chrono::milliseconds limit = 10s) {
        std::optional<HttpResponse> answer;
        client.send(request, [&](HttpResponse response) { answer = std::move(response); });
        runUntil([&] { return answer.has_value(); }, limit);
        return answer;
    }

    HttpTestServer server;
    SoupHttpClient client;
};

TEST_F(SoupHttpClientTest, GivesBackTheBodyWhateverTheStatus) {
    server.answer("/updates.json", {500, "application/json", R"({"version":"1.5.0"})"});
    HttpRequest request;
    request.url = server.url("/updates.json");
    auto response = send(request);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 500);
    EXPECT_EQ(response->body, R"({"version":"1.5.0"})");

    request.url = server.url("/missing");
    response = send(request);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 404);
    EXPECT_FALSE(response->body) << "an empty body is no body";
}

TEST_F(SoupHttpClientTest, AsksTheOriginAgainOnlyWhenTold) {
    server.answer("/updates.json", {200, "application/json", "{}"});
    HttpRequest request;
    request.url = server.url("/updates.json");
    ASSERT_TRUE(send(request));
    request.ignoreLocalCache = true;
    ASSERT_TRUE(send(request));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].headers.count("cache-control"), 0u);
    EXPECT_EQ(requests[1].headers["cache-control"], "no-cache");
    EXPECT_EQ(requests[1].headers["pragma"], "no-cache");
}

TEST_F(SoupHttpClientTest, ARequestNotAnsweredInTimeEndsWithNothing) {
    server.answer("/slow", {200, "application/json", "{}", 0ms, /*neverAnswer=*/true});
    HttpRequest request;
    request.url = server.url("/slow");
    request.timeout = 1s;
    auto response = send(request, 15s);
    ASSERT_TRUE(response) << "the time-out never ended the request";
    EXPECT_FALSE(response->status);
    EXPECT_FALSE(response->body);
}

TEST_F(SoupHttpClientTest, NoServerEndsWithNothing) {
    HttpRequest request;
    // Port 9 (discard) is closed on a test machine.
    request.url = "http://127.0.0.1:9/updates.json";
    auto response = send(request);
    ASSERT_TRUE(response);
    EXPECT_FALSE(response->status);
    EXPECT_FALSE(response->body);
}

TEST_F(SoupHttpClientTest, ARequestInFlightNeverAnswersAClientThatIsGone) {
    server.answer("/slow", {200, "application/json", "{}", 300ms});
    auto owner = std::make_unique<SoupHttpClient>();
    bool answered = false;
    HttpRequest request;
    request.url = server.url("/slow");
    owner->send(request, [&](HttpResponse) { answered = true; });
    ASSERT_TRUE(runUntil([&] { return !server.requests().empty(); }, 5s));
    owner.reset();
    runUntil([] { return false; }, 800ms);
    EXPECT_FALSE(answered);
}

}  // namespace
}  // namespace lumory::gtk
