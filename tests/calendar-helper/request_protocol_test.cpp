// The line protocol over the in-memory store: what each kind of line gets back.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "command_fixture.h"

namespace lumory::cal {
namespace {

using nlohmann::json;

class RequestProtocol : public RequestLineFixture {
protected:
    RequestProtocol() { store.setStatus(EntityType::event, 3); }
};

TEST_F(RequestProtocol, EchoesIdsOfEveryJsonTypeUnchanged) {
    const std::vector<std::string> ids = {
        R"("a1")", "7", "-3", "0", "18446744073709551615", "-9223372036854775808", "1.5",
        "2.5e-300", "true", "false", "null", R"({"n":1,"deep":[{"x":[]}]})", "[1,[2],\"3\"]",
        R"("")", R"("tab\there é ☃ \ud83d\ude00")", "{}", "[]"};
    for (const std::string& id : ids) {
        auto replies = answer({R"({"cmd":"status","id":)" + id + "}"});
        ASSERT_EQ(replies.size(), 1u) << id;
        ASSERT_TRUE(replies[0].contains("id")) << id;
        EXPECT_EQ(replies[0]["id"], json::parse(id)) << id;
        EXPECT_EQ(replies[0]["id"].type(), json::parse(id).type()) << id;
        EXPECT_EQ(replies[0]["status"], "fullAccess") << id;
        EXPECT_EQ(replies[0].size(), 2u) << id;
    }

    auto withoutId = answer({R"({"cmd":"status"})"});
    ASSERT_EQ(withoutId.size(), 1u);
    EXPECT_EQ(withoutId[0], json({{"status", "fullAccess"}}));
}

TEST_F(RequestProtocol, AnswersFaultyRequestsWithErrors) {
    struct Case {
        std::string line;
        json reply;
    };
    const std::vector<Case> cases = {
        {R"({"id":3})", {{"error", "unknown command: none"}, {"id", 3}}},
        {R"({"id":3,"cmd":"STATUS"})", {{"error", "unknown command: STATUS"}, {"id", 3}}},
        {R"({"id":"x","cmd":5})", {{"error", "unknown command: none"}, {"id", "x"}}},
        {R"({"id":null,"cmd":null})", {{"error", "unknown command: none"}, {"id", nullptr}}},
        {R"({"cmd":"frobnicate","id":"a1"})",
         {{"error", "unknown command: frobnicate"}, {"id", "a1"}}},
        {R"({"cmd":""})", {{"error", "unknown command: "}}},
        {R"({"cmd":"status "})", {{"error", "unknown command: status "}}},
        {"[1,2]", {{"error", "bad JSON"}}},
        {R"("text")", {{"error", "bad JSON"}}},
        {"not json", {{"error", "bad JSON"}}},
        {R"({"cmd":"status")", {{"error", "bad JSON"}}},
        {R"({"cmd":"status"} {})", {{"error", "bad JSON"}}},
        {R"({"id":1e400,"cmd":"status"})", {{"error", "bad JSON"}}},
        {"{\"cmd\":\"status\",\"id\":\"\\udc00\"}", {{"error", "bad JSON"}}},
        {std::string("{\"cmd\":\"status\"}\0", 17), {{"error", "bad JSON"}}},
    };
    for (const Case& c : cases) {
        auto replies = answer({c.line});
        ASSERT_EQ(replies.size(), 1u) << c.line;
        EXPECT_EQ(replies[0], c.reply) << c.line;
    }
}

TEST_F(RequestProtocol, ObjectSpreadOverLinesIsBadJsonPerLine) {
    auto replies = answer({"{", R"("cmd": "status")", "}"});
    EXPECT_EQ(replies, std::vector<json>(3, json{{"error", "bad JSON"}}));
}

TEST_F(RequestProtocol, IgnoresBlankLinesAndTrimsUnicodeSpaces) {
    EXPECT_TRUE(answer({"", " ", "\t \t", "\xC2\xA0", "\xE3\x80\x80\xE2\x80\x83"}).empty());
    // No-break space, em space and ideographic space around a request.
    auto replies = answer({"\xC2\xA0\t" R"({"cmd":"status","id":1})" "\xE2\x80\x83\xE3\x80\x80 "});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], json({{"status", "fullAccess"}, {"id", 1}}));
}

TEST_F(RequestProtocol, RepairsInvalidUtf8InsteadOfRejecting) {
    auto replies = answer({"{\"cmd\":\"status\",\"id\":\"a\xFF" "b\xE2\x82\"}"});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0]["id"], "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(repairUtf8("ok \xC3\xA9 \xF0\x9F\x98\x80"), "ok \xC3\xA9 \xF0\x9F\x98\x80");
    // Overlong forms and encoded surrogates are not valid either; each stray byte is one fault.
    EXPECT_EQ(repairUtf8("\xC0\xAF|\xED\xA0\x80|\xF0\x9F\x98"),
              "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD");
}

TEST_F(RequestProtocol, DeepNestingIsBadJsonAtTheLimit) {
    const auto nested = [](std::size_t depth) {
        return R"({"cmd":"status","id":)" + std::string(depth - 1, '[') +
               std::string(depth - 1, ']') + "}";
    };
    auto within = answer({nested(kMaxNestingDepth)});
    ASSERT_EQ(within.size(), 1u);
    EXPECT_TRUE(within[0].contains("status"));

    auto beyond = answer({nested(kMaxNestingDepth + 1)});
    EXPECT_EQ(beyond, std::vector<json>{json({{"error", "bad JSON"}})});

    // Brackets inside strings are text, not nesting.
    auto quoted = answer({R"({"cmd":"status","id":")" + std::string(100000, '[') + R"("})"});
    ASSERT_EQ(quoted.size(), 1u);
    EXPECT_EQ(quoted[0]["id"].get<std::string>().size(), 100000u);

    EXPECT_EQ(answer({std::string(1'000'000, '[')}),
              std::vector<json>{json({{"error", "bad JSON"}})});
}

// Reads a whole input through a pipe, as the helper's reader thread does.
std::vector<json> readThroughPipe(const std::string& input, CommandContext& context,
                                  OutputCapture& capture) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        // Small pieces, so that lines and CR LF pairs straddle reads.
        for (std::size_t at = 0; at < input.size(); at += 7)
            EXPECT_GT(write(fds[1], input.data() + at, std::min<std::size_t>(7, input.size() - at)), 0);
        close(fds[1]);
    });
    readRequests(context, fds[0]);
    writer.join();
    close(fds[0]);
    return capture.replies();
}

TEST_F(RequestProtocol, ReaderSplitsLinesAndAnswersInInputOrder) {
    std::string input;
    for (int n = 0; n < 200; ++n) {
        input += R"({"cmd":"status","id":)" + std::to_string(n) + "}";
        input += (n % 2 == 0) ? "\r\n" : "\n";
        if (n % 10 == 0) input += "\n \t\r\n";
    }
    input += R"({"cmd":"reminders-status","id":"last"})";  // no line feed at the end

    auto replies = readThroughPipe(input, context, capture);
    ASSERT_EQ(replies.size(), 201u);
    for (int n = 0; n < 200; ++n) EXPECT_EQ(replies[n], json({{"status", "fullAccess"}, {"id", n}}));
    EXPECT_EQ(replies[200], json({{"status", "notDetermined"}, {"id", "last"}}));
}

TEST_F(RequestProtocol, ReaderKeepsCarriageReturnsThatEndNoLine) {
    // A CR not followed by LF stays in the line; inside a string it makes the JSON invalid.
    auto replies = readThroughPipe("{\"cmd\":\"status\",\"id\":\"a\rb\"}\n{\"cmd\":\"status\"}\r\r\n",
                                   context, capture);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], json({{"error", "bad JSON"}}));
    EXPECT_EQ(replies[1], json({{"status", "fullAccess"}}));
}

TEST(LineReader, SkipsOverlongLinesAndGoesOn) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string input = std::string(5000, 'x') + "\nshort\r\n" + std::string(100, 'y');
    ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fds[1]);

    LineReader reader(fds[0], 1000);
    auto first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->tooLong);
    EXPECT_TRUE(first->text.empty());
    auto second = reader.next();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->tooLong);
    EXPECT_EQ(second->text, "short");
    auto third = reader.next();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->text, std::string(100, 'y'));
    EXPECT_FALSE(reader.next());
    close(fds[0]);
}

TEST(Output, ReplacesInvalidTextRatherThanDroppingTheReply) {
    OutputCapture capture;
    capture.output.reply(json("id"), {{"error", "bad \xFF name"}});
    ASSERT_EQ(capture.rawLines().size(), 1u);
    EXPECT_EQ(capture.replies()[0], json({{"error", "bad \xEF\xBF\xBD name"}, {"id", "id"}}));
    EXPECT_EQ(capture.rawLines()[0].back(), '\n');
    // The request id wins over an "id" the payload may hold.
    capture.output.reply(json(5), {{"id", "payload"}, {"ok", true}});
    EXPECT_EQ(capture.replies()[1], json({{"id", 5}, {"ok", true}}));
}

// Change notices and replies written during start-up wait for the ready notice, in order.
TEST(Output, LinesHeldUntilOpenedFollowTheOpeningLine) {
    OutputCapture capture;
    capture.output.holdUntilOpened();
    capture.output.emit({{"event", "changed"}});
    std::thread([&] { capture.output.reply(json(1), {{"status", "fullAccess"}}); }).join();
    capture.output.emitText(R"({"events":[]})");
    EXPECT_TRUE(capture.rawLines().empty());
    capture.output.open({{"event", "ready"}, {"status", "fullAccess"}});
    capture.output.emit({{"event", "changed"}});
    EXPECT_EQ(capture.replies(),
              (std::vector<json>{json({{"event", "ready"}, {"status", "fullAccess"}}),
                                 json({{"event", "changed"}}),
                                 json({{"id", 1}, {"status", "fullAccess"}}),
                                 json({{"events", json::array()}}), json({{"event", "changed"}})}));
}

// A reply of any length leaves in pieces of bounded size, never held whole, and no other line
// gets between its pieces.
TEST(Output, StreamedLinesLeaveInBoundedPiecesWhole) {
    std::vector<std::size_t> pieceSizes;
    std::string written;
    Output output([&](std::string_view text) {
        pieceSizes.push_back(text.size());
        written.append(text);
    });
    std::thread other;
    output.emitStreamed([&](const Output::Piece& write) {
        write("{\"events\":[");
        other = std::thread([&] { output.emit({{"event", "changed"}}); });
        for (int n = 0; n < 20000; ++n) write((n > 0 ? ",\"" : "\"") + std::string(96, 'x') + "\"");
        write("]}");
    });
    other.join();
    ASSERT_GT(pieceSizes.size(), 20u);
    EXPECT_LE(*std::max_element(pieceSizes.begin(), pieceSizes.end()), (64u << 10) + 100u);
    const std::size_t end = written.find('\n');
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(json::parse(written.substr(0, end))["events"].size(), 20000u);
    EXPECT_EQ(written.substr(end + 1), "{\"event\":\"changed\"}\n");
}

}  // namespace
}  // namespace lumory::cal
