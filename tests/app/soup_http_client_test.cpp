// The libsoup client against a local server: what it sends, what comes back whatever the status,
// its per-request time-out, the bounds a caller sets on redirects and body size, and silence once
// its owner is gone.
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

constexpr size_t kBound = 64 * 1024;

HttpRequest bounded(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.timeout = 5s;
    request.maxBodyBytes = kBound;
    return request;
}

TEST_F(SoupHttpClientTest, ABodyUpToTheBoundArrivesWholeAndOneByteMoreNotAtAll) {
    std::string atBound(kBound, 'a');
    atBound.front() = '<';
    atBound.back() = '>';
    server.answer("/at-bound", {200, "application/json", atBound});
    server.answer("/past-bound", {200, "application/json", atBound + "!"});
    auto response = send(bounded(server.url("/at-bound")));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->body, atBound);

    response = send(bounded(server.url("/past-bound")));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_FALSE(response->body);
}

// A feed that streams for ever must cost neither the whole time-out nor more than the bound.
TEST_F(SoupHttpClientTest, ABodyWithoutEndIsCutOffAtTheBound) {
    server.answer("/endless", {200, "application/json", std::string(4096, ' '), 0ms, false, {},
                               /*endless=*/true});
    auto started = std::chrono::steady_clock::now();
    auto response = send(bounded(server.url("/endless")));
    ASSERT_TRUE(response);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "read until the time-out";
    EXPECT_EQ(response->status, 200);
    EXPECT_FALSE(response->body);
    // The connection is gone: the server cannot write on and on into it.
    runUntil([] { return false; }, 300ms);
    size_t streamed = server.streamedBytes();
    runUntil([] { return false; }, 500ms);
    EXPECT_EQ(server.streamedBytes(), streamed);
}

TEST_F(SoupHttpClientTest, ADeclaredLengthPastTheBoundIsRefusedBeforeTheBody) {
    HttpTestServer::Response huge{200, "application/json", ""};
    huge.declaredLength = 100 * 1024 * 1024;
    server.answer("/huge", huge);
    auto response = send(bounded(server.url("/huge")));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200) << "waited for a body that never comes";
    EXPECT_FALSE(response->body);
}

TEST_F(SoupHttpClientTest, ARedirectIsTheAnswerWhenNotToBeFollowed) {
    server.answer("/feed", {200, "application/json", R"({"version":"9.0.0"})"});
    HttpTestServer::Response moved{302, "text/plain", "moved"};
    moved.headers = {{"Location", server.url("/feed")}};
    server.answer("/moved", moved);
    HttpRequest request;
    request.url = server.url("/moved");
    request.followRedirects = false;
    auto response = send(request);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 302);
    EXPECT_EQ(response->body, "moved");
    EXPECT_EQ(server.requests().size(), 1u);

    request.followRedirects = true;
    response = send(request);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->body, R"({"version":"9.0.0"})");
    EXPECT_EQ(server.requests().back().path, "/feed");
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
