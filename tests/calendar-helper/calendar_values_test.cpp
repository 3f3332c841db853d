#include "calendar_values.h"

#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "local_zone.h"

namespace lumory::cal {
namespace {

using nlohmann::json;
using namespace std::chrono;

std::optional<Instant> parse(const json& value) {
    return parseDate(&value);
}

Instant utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s};
}

TEST(CalendarValues, RequestDatesInEveryFormGiveTheSameInstant) {
    auto expected = utc(2025, 3, 1, 14, 30);
    EXPECT_EQ(parse("2025-03-01T14:30:00Z"), expected);
    EXPECT_EQ(parse("2025-03-01T16:30:00+02:00"), expected);
    EXPECT_EQ(parse("2025-03-01T09:00:00-05:30"), expected);
    EXPECT_EQ(parse("2025-03-01T14:30:00.000Z"), expected);
    EXPECT_EQ(parse("2025-03-01T14:30:00.250Z"), expected + milliseconds{250});
    EXPECT_EQ(parse("2025-03-01T14:30:00.5+00:00"), expected + milliseconds{500});
}

TEST(CalendarValues, AnythingElseIsNoDate) {
    for (const json& value :
         {json(1740839400), json(true), json(nullptr), json::object(), json::array(), json(""),
          json("2025-03-01T14:30:00"),   // no zone
          json("2025-03-01T14:30Z"),     // no seconds
          json("2025-03-01 14:30:00Z"),  // space instead of T
          json("2025-02-30T10:00:00Z"),  // no such day
          json("2025-03-01T24:00:00Z"), json("2025-03-01T14:30:00.Z"),
          json("2025-03-01T14:30:00+0200"), json("2025-03-01T14:30:00Zjunk"), json("2025-3-1"),
          json("2025-03-01x"), json("25-03-01"), json("２０２５-03-01")}) {
        EXPECT_FALSE(parse(value)) << value.dump();
    }
    EXPECT_FALSE(parseDate(nullptr));
    // Beyond the years an instant holds: no date rather than an overflow.
    for (const char* far :
         {"0001-01-01T00:00:00Z", "9999-12-31T23:59:59.5Z", "1600-01-01", "2300-01-01"})
        EXPECT_FALSE(parse(far)) << far;
    EXPECT_TRUE(parse("2200-01-01T00:00:00Z"));
    EXPECT_FALSE(instantOf(DueDate{1, 1, 1, 9, 30}));
    EXPECT_FALSE(instantFromTime(std::numeric_limits<std::time_t>::max()));
}

TEST(CalendarValues, DayAloneIsLocalMidnightInTheHelpersZone) {
    {
        LocalZone zone("Europe/Berlin");  // UTC+01:00 in March
        EXPECT_EQ(parse("2025-03-01"), utc(2025, 2, 28, 23));
        EXPECT_EQ(parse("2025-07-01"), utc(2025, 6, 30, 22));  // summer time
    }
    {
        LocalZone zone("America/New_York");
        EXPECT_EQ(parse("2025-03-01"), utc(2025, 3, 1, 5));
    }
}

TEST(CalendarValues, RepliesAreUtcWithoutFractions) {
    auto parsed = parse("2025-03-01T16:30:00.999+02:00");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(formatDate(*parsed), "2025-03-01T14:30:00Z");
    EXPECT_EQ(formatDate(utc(1969, 12, 31, 23, 59, 59) + milliseconds{500}),
              "1969-12-31T23:59:59Z");
    EXPECT_EQ(formatDate(utc(2024, 2, 29)), "2024-02-29T00:00:00Z");
}

// The reply form agrees with the C library's own UTC calendar everywhere an instant reaches,
// its two ends included, and appends without disturbing what came before.
TEST(CalendarValues, RepliesMatchTheCLibraryAcrossEveryYearAnInstantHolds) {
    auto expected = [](Instant instant) {
        const std::time_t seconds = floor<std::chrono::seconds>(instant).time_since_epoch().count();
        std::tm fields{};
        gmtime_r(&seconds, &fields);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
        return std::string(text);
    };
    std::vector<Instant> instants = {Instant::min(), Instant::max(), Instant{},
                                     utc(1999, 12, 31, 23, 59, 59), utc(2000, 1, 1)};
    std::srand(20250301);
    const auto span = duration_cast<seconds>(Instant::max() - Instant{}).count() - 1;
    for (int n = 0; n < 20000; ++n) {
        const auto offset = static_cast<long long>((double(std::rand()) / RAND_MAX * 2 - 1) * span);
        instants.push_back(Instant{} + seconds{offset} + milliseconds{std::rand() % 1000});
    }
    for (Instant instant : instants) {
        ASSERT_EQ(formatDate(instant), expected(instant)) << instant.time_since_epoch().count();
        std::string appended = "\"start\":\"";
        appendDate(appended, instant);
        ASSERT_EQ(appended, "\"start\":\"" + expected(instant));
    }
}

TEST(CalendarValues, HexColorRoundsHalvesAwayAndClamps) {
    using C = std::vector<double>;
    EXPECT_EQ(hexColor(C{1.0, 0.5, 0.0}), "#FF8000");
    EXPECT_EQ(hexColor(C{0.2, -0.1, 1.2, 0.3}), "#3300FF");  // alpha dropped
    EXPECT_EQ(hexColor(C{0.0039, 0.998, 0.0020}), "#01FE01");
    EXPECT_FALSE(hexColor(std::nullopt));
    EXPECT_FALSE(hexColor(C{0.5, 1.0}));
    EXPECT_FALSE(hexColor(C{NAN, 0.0, 0.0}));
}

TEST(CalendarValues, CalendarObjectCarriesColorOnlyWhenKnown) {
    Calendar calendar{"cal-1",
                      "Work",
                      "On This Computer",
                      SourceType::subscribed,
                      false,
                      std::vector<double>{0.0, 0.0, 1.0}};
    json object = encode(calendar);
    EXPECT_EQ(object, json::parse(R"({"id":"cal-1","title":"Work","source":"On This Computer",
        "sourceType":"subscribed","writable":false,"color":"#0000FF"})"));
    calendar.colorComponents.reset();
    calendar.sourceType = static_cast<SourceType>(9);
    object = encode(calendar);
    EXPECT_FALSE(object.contains("color"));
    EXPECT_EQ(object["sourceType"], "unknown");
}

TEST(CalendarValues, CalendarsSortBySourceThenTitleByScalarValues) {
    auto make = [](std::string source, std::string title, std::string id) {
        Calendar c;
        c.identifier = std::move(id);
        c.sourceTitle = std::move(source);
        c.title = std::move(title);
        return c;
    };
    std::vector<Calendar> calendars = {
        make("Mail", "Work", "w"),     make("Mail", "Home", "h"),
        make("Cloud", "Family", "f"),  make("Mail", "alpha", "a"),
        make("Mail", "Zeta", "z"),     make("Mail", "Home", "h2"),
        make("Mail", "Éclair", "e1"),  make("Mail", "E\u0301clair", "e2"),
        make("Mail", "Errands", "er"),
    };
    sortCalendars(calendars);
    std::vector<std::string> ids;
    for (auto& c : calendars) ids.push_back(c.identifier);
    // Upper case before lower case, accents after ASCII, composed and decomposed forms equal
    // (so they keep their order), equal pairs keep theirs.
    EXPECT_EQ(ids, (std::vector<std::string>{"f", "er", "h", "h2", "w", "z", "a", "e1", "e2"}));
}

TEST(CalendarValues, DueComponentsRoundTripInTheLocalZone) {
    LocalZone zone("Europe/Berlin");
    auto due = localComponents(utc(2025, 3, 4, 8, 30, 45), true);
    EXPECT_EQ(due, (DueDate{2025, 3, 4, 9, 30}));
    EXPECT_EQ(instantOf(due), utc(2025, 3, 4, 8, 30));  // seconds are gone
    auto day = localComponents(utc(2025, 3, 3, 23, 30), false);
    EXPECT_EQ(day, (DueDate{2025, 3, 4, std::nullopt, std::nullopt}));
    EXPECT_EQ(instantOf(day), utc(2025, 3, 3, 23));
    EXPECT_FALSE(instantOf(DueDate{2025, 2, 30, std::nullopt, std::nullopt}));
}

}  // namespace
}  // namespace lumory::cal
