#pragma once

// Runs requests and data commands over the in-memory store and collects their replies.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "command_context.h"
#include "commands.h"
#include "memory_event_store.h"
#include "output_capture.h"
#include "request_reader.h"

namespace lumory::cal {

inline Instant utcInstant(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s};
}

inline Calendar makeCalendar(std::string id, std::string title, bool writable = true,
                             std::string source = "On This Computer") {
    Calendar calendar;
    calendar.identifier = std::move(id);
    calendar.title = std::move(title);
    calendar.sourceTitle = std::move(source);
    calendar.sourceType = SourceType::local;
    calendar.allowsContentModifications = writable;
    return calendar;
}

// The helper's dispatch over the in-memory store, with the replies collected.
class RequestLineFixture : public ::testing::Test {
protected:
    // The replies to the given input lines, parsed.
    std::vector<nlohmann::json> answer(const std::vector<std::string>& lines) {
        capture.clear();
        for (const std::string& line : lines) handleLine(context, line);
        return capture.replies();
    }

    MemoryEventStore store;
    OutputCapture capture;
    CommandContext context{store, capture.output};
};

// Runs data commands with full access.
class CommandFixture : public RequestLineFixture {
protected:
    CommandFixture() {
        store.setStatus(EntityType::event, 3);
        store.setStatus(EntityType::reminder, 3);
    }
    ~CommandFixture() override { store.finishFetches(); }

    // The one reply the handler gives to the request, with id 1.
    nlohmann::json run(CommandHandler handler, nlohmann::json request) {
        capture.clear();
        handler(context, nlohmann::json(1), request);
        EXPECT_TRUE(capture.waitForLines(1, std::chrono::seconds(5)));
        auto replies = capture.replies();
        EXPECT_EQ(replies.size(), 1u);
        if (replies.empty()) return nullptr;
        EXPECT_EQ(replies[0]["id"], 1);
        replies[0].erase("id");
        return replies[0];
    }
    std::string error(CommandHandler handler, nlohmann::json request) {
        auto reply = run(handler, std::move(request));
        return reply.value("error", std::string("(no error)"));
    }
};

}  // namespace lumory::cal
