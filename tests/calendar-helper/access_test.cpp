// Status words, the access guards, access requests and the drain at end of input.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "command_fixture.h"

namespace lumory::cal {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

class Access : public RequestLineFixture {};

TEST_F(Access, StatusWordsPerEntityType) {
    const std::vector<std::pair<AuthorizationStatus, std::string>> words = {
        {0, "notDetermined"}, {1, "restricted"}, {2, "denied"}, {3, "fullAccess"},
        {4, "writeOnly"},     {5, "unknown"},    {-1, "unknown"}};
    for (const auto& [status, word] : words) {
        store.setStatus(EntityType::event, status);
        store.setStatus(EntityType::reminder, (status + 2) % 5);
        auto replies = answer({R"({"cmd":"status","id":1})", R"({"cmd":"reminders-status"})"});
        EXPECT_EQ(replies[0], json({{"status", word}, {"id", 1}}));
        EXPECT_EQ(replies[1], json({{"status", statusName((status + 2) % 5)}}));
    }
}

TEST_F(Access, GuardsReplyWithTheStatusWordUnlessFullAccess) {
    store.setStatus(EntityType::event, 3);
    store.setStatus(EntityType::reminder, 4);
    EXPECT_TRUE(requireAccess(context, json(1)));
    EXPECT_TRUE(capture.rawLines().empty());
    EXPECT_FALSE(requireReminderAccess(context, json(2)));
    EXPECT_EQ(capture.replies().back(), json({{"error", "no reminders access: writeOnly"}, {"id", 2}}));

    store.setStatus(EntityType::event, 9);
    EXPECT_FALSE(requireAccess(context, std::nullopt));
    EXPECT_EQ(capture.replies().back(), json({{"error", "no calendar access: unknown"}}));
    store.setStatus(EntityType::reminder, 3);
    EXPECT_TRUE(requireReminderAccess(context, json(3)));
    EXPECT_EQ(capture.rawLines().size(), 2u);
}

TEST_F(Access, GrantedRequestResetsTheStoreBeforeReplying) {
    store.setAccessAnswer({.granted = true, .error = std::nullopt, .statusAfter = 3});
    std::vector<int> resetsWhenWritten;
    std::vector<int> outstandingWhenWritten;
    capture.onLine = [&](std::string_view) {
        resetsWhenWritten.push_back(store.resetCount());
        outstandingWhenWritten.push_back(context.outstandingReplies());
    };
    auto replies = answer({R"({"cmd":"auth","id":"a"})"});
    EXPECT_EQ(replies, std::vector<json>{json({{"status", "fullAccess"}, {"granted", true}, {"id", "a"}})});
    EXPECT_EQ(resetsWhenWritten, std::vector<int>{1});
    // The reply leaves while the request still counts, so the drain cannot exit before it.
    EXPECT_EQ(outstandingWhenWritten, std::vector<int>{1});
    EXPECT_EQ(context.outstandingReplies(), 0);
}

TEST_F(Access, RefusedAndFailedRequestsDoNotReset) {
    store.setStatus(EntityType::reminder, 0);
    store.setAccessAnswer({.granted = false, .error = std::nullopt, .statusAfter = 2});
    auto refused = answer({R"({"cmd":"reminders-auth","id":1})"});
    EXPECT_EQ(refused, std::vector<json>{json({{"status", "denied"}, {"granted", false}, {"id", 1}})});
    // Only the reminders status moved.
    EXPECT_EQ(answer({R"({"cmd":"status"})"})[0]["status"], "notDetermined");

    store.setAccessAnswer({.granted = true, .error = "the bus went away", .statusAfter = 3});
    auto failed = answer({R"({"cmd":"auth","id":2})"});
    EXPECT_EQ(failed, std::vector<json>{json({{"error", "the bus went away"}, {"id", 2}})});
    EXPECT_EQ(store.resetCount(), 0);
    EXPECT_EQ(context.outstandingReplies(), 0);
}

TEST_F(Access, OutstandingRequestsEachGetTheirOwnReply) {
    store.holdAccessRequests(true);
    store.setAccessAnswer({.granted = true, .error = std::nullopt, .statusAfter = 3});
    auto early = answer({R"({"cmd":"auth","id":1})", R"({"cmd":"reminders-auth","id":2})",
                         R"({"cmd":"status","id":3})"});
    // The status reply does not wait for the access answers.
    EXPECT_EQ(early, std::vector<json>{json({{"status", "notDetermined"}, {"id", 3}})});
    EXPECT_EQ(context.outstandingReplies(), 2);

    std::thread platform([&] { store.releaseAccessRequests(); });
    platform.join();
    auto replies = capture.replies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[1], json({{"status", "fullAccess"}, {"granted", true}, {"id", 1}}));
    EXPECT_EQ(replies[2], json({{"status", "fullAccess"}, {"granted", true}, {"id", 2}}));
    EXPECT_EQ(context.outstandingReplies(), 0);
}

TEST_F(Access, DrainWaitsForTheOutstandingReply) {
    store.holdAccessRequests(true);
    answer({R"({"cmd":"auth","id":"late"})"});
    ASSERT_EQ(store.heldAccessRequests(), 1u);

    std::atomic<bool> drained = false;
    std::thread endOfInput([&] {
        context.drain(60s);
        drained = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(drained);
    store.releaseAccessRequests();
    endOfInput.join();
    // Whatever the timing, the reply is out by the time the drain lets the process end.
    EXPECT_EQ(capture.replies().back()["id"], "late");
}

TEST_F(Access, DrainGivesUpAtItsLimit) {
    store.holdAccessRequests(true);
    answer({R"({"cmd":"auth","id":1})"});
    context.drain(100ms);
    EXPECT_EQ(context.outstandingReplies(), 1);
    EXPECT_TRUE(capture.rawLines().empty());
    store.releaseAccessRequests();  // answered after the drain: still exactly one reply
    EXPECT_EQ(capture.rawLines().size(), 1u);
}

TEST_F(Access, DrainReturnsAtOnceWithNothingOutstanding) {
    const auto started = std::chrono::steady_clock::now();
    context.drain(120s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

}  // namespace
}  // namespace lumory::cal
