#include "calendar_values.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include <glib.h>

namespace lumory::cal {
namespace {

using namespace std::chrono;

// Reads exactly `count` decimal digits at text[pos].
std::optional<int> digits(std::string_view text, size_t pos, size_t count) {
    if (pos + count > text.size()) return std::nullopt;
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::optional<sys_days> civilDay(std::string_view text) {
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    auto y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
    if (!y || !m || !d) return std::nullopt;
    year_month_day date{year{*y}, month{unsigned(*m)}, std::chrono::day{unsigned(*d)}};
    if (!date.ok()) return std::nullopt;
    return sys_days{date};
}

// An instant counts nanoseconds in 64 bits (about the years 1678 to 2261); later or earlier
// dates would overflow it, so they are no date. The margin leaves room for the days that
// searches add around a date.
bool representable(sys_seconds time) {
    return time > time_point_cast<seconds>(Instant::min()) + days{7} &&
           time < time_point_cast<seconds>(Instant::max()) - days{7};
}

// yyyy-MM-ddTHH:mm:ss[.fraction](Z|+HH:mm|-HH:mm); `fractional` says whether the fraction is
// required (true) or forbidden (false), as the two request forms are tried one after the other.
std::optional<Instant> parseDateTime(std::string_view text, bool fractional) {
    auto day = civilDay(text);
    if (!day || text.size() < 20 || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    size_t pos = 19;
    nanoseconds fraction{0};
    if (fractional) {
        if (text[pos] != '.') return std::nullopt;
        size_t start = ++pos;
        long long scale = 100'000'000;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            fraction += nanoseconds{(text[pos] - '0') * scale};
            scale /= 10;
            ++pos;
        }
        if (pos == start) return std::nullopt;
    }
    seconds offset{0};
    std::string_view zone = text.substr(pos);
    if (zone == "Z") {
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        auto oh = digits(zone, 1, 2), om = digits(zone, 4, 2);
        if (!oh || !om || *oh > 23 || *om > 59) return std::nullopt;
        offset = hours{*oh} + minutes{*om};
        if (zone[0] == '-') offset = -offset;
    } else {
        return std::nullopt;
    }
    auto local = *day + hours{*h} + minutes{*mi} + seconds{*s} - offset;
    if (!representable(local)) return std::nullopt;
    return time_point_cast<Instant::duration>(local + fraction);
}

std::string normalized(std::string_view text) {
    g_autofree gchar* composed =
        g_utf8_normalize(text.data(), gssize(text.size()), G_NORMALIZE_DEFAULT_COMPOSE);
    // Text that is not UTF-8 cannot be normalized; its bytes still give a stable order.
    return composed ? std::string(composed) : std::string(text);
}

}  // namespace

const nlohmann::json* field(const nlohmann::json& request, const char* key) {
    if (!request.is_object()) return nullptr;
    auto it = request.find(key);
    return it == request.end() ? nullptr : &*it;
}

const std::string* stringField(const nlohmann::json& request, const char* key) {
    const nlohmann::json* value = field(request, key);
    return value && value->is_string() ? &value->get_ref<const std::string&>() : nullptr;
}

std::optional<Instant> parseDate(const nlohmann::json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    const std::string& text = value->get_ref<const std::string&>();
    if (auto date = parseDateTime(text, false)) return date;
    if (auto date = parseDateTime(text, true)) return date;
    if (text.size() != 10) return std::nullopt;
    auto day = civilDay(text);
    if (!day || !representable(*day)) return std::nullopt;
    year_month_day ymd{*day};
    return localMidnight(int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())));
}

void appendDate(std::string& out, Instant date) {
    auto secs = floor<seconds>(date);
    auto day = floor<days>(secs);
    year_month_day ymd{day};
    hh_mm_ss time{secs - day};
    // Written digit by digit: listings write several dates per occurrence, and printf's format
    // parsing cost more than all the rest of an occurrence's text. An instant's years (about
    // 1678 to 2261) always take four digits.
    char text[] = "0000-00-00T00:00:00Z";
    auto put = [&text](int at, int width, int value) {
        for (int i = at + width - 1; i >= at; --i, value /= 10) text[i] = char('0' + value % 10);
    };
    put(0, 4, int(ymd.year()));
    put(5, 2, int(unsigned(ymd.month())));
    put(8, 2, int(unsigned(ymd.day())));
    put(11, 2, int(time.hours().count()));
    put(14, 2, int(time.minutes().count()));
    put(17, 2, int(time.seconds().count()));
    out.append(text, sizeof text - 1);
}

std::string formatDate(Instant date) {
    std::string text;
    appendDate(text, date);
    return text;
}

std::optional<std::string> hexColor(const std::optional<std::vector<double>>& components) {
    if (!components || components->size() < 3) return std::nullopt;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        double c = (*components)[i];
        if (std::isnan(c)) return std::nullopt;
        channels[i] = c >= 1.0 ? 255 : int(std::lround(255.0 * std::max(c, 0.0)));
    }
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", channels[0], channels[1], channels[2]);
    return text;
}

std::string sourceName(SourceType type) {
    switch (type) {
        case SourceType::local:
            return "local";
        case SourceType::exchange:
            return "exchange";
        case SourceType::caldav:
            return "caldav";
        case SourceType::mobileme:
            return "mobileme";
        case SourceType::subscribed:
            return "subscribed";
        case SourceType::birthdays:
            return "birthdays";
        case SourceType::unknown:
            break;
    }
    return "unknown";
}

nlohmann::json encode(const Calendar& calendar) {
    nlohmann::json object = {
        {"id", calendar.identifier},
        {"title", calendar.title},
        {"source", calendar.sourceTitle},
        {"sourceType", sourceName(calendar.sourceType)},
        {"writable", calendar.allowsContentModifications},
    };
    if (auto color = hexColor(calendar.colorComponents)) object["color"] = *color;
    return object;
}

bool textLess(std::string_view a, std::string_view b) {
    // UTF-8 byte order is scalar-value order.
    return normalized(a) < normalized(b);
}

void sortCalendars(std::vector<Calendar>& calendars) {
    struct Keyed {
        std::string source, title;
        Calendar calendar;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(calendars.size());
    for (auto& c : calendars)
        keyed.push_back({normalized(c.sourceTitle), normalized(c.title), std::move(c)});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return std::tie(a.source, a.title) < std::tie(b.source, b.title);
    });
    calendars.clear();
    for (auto& k : keyed) calendars.push_back(std::move(k.calendar));
}

Instant localMidnight(int year, int month, int day) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_isdst = -1;
    return system_clock::from_time_t(std::mktime(&fields));
}

std::optional<Instant> instantOf(const DueDate& due) {
    year_month_day ymd{year{due.year}, month{unsigned(due.month)},
                       std::chrono::day{unsigned(due.day)}};
    if (!ymd.ok()) return std::nullopt;
    std::tm fields{};
    fields.tm_year = due.year - 1900;
    fields.tm_mon = due.month - 1;
    fields.tm_mday = due.day;
    fields.tm_hour = due.hour.value_or(0);
    fields.tm_min = due.hour ? due.minute.value_or(0) : 0;
    fields.tm_sec = due.hour ? due.second : 0;
    fields.tm_isdst = -1;
    std::time_t t = std::mktime(&fields);
    if (t == std::time_t(-1) && fields.tm_year != 69) return std::nullopt;
    return instantFromTime(t);
}

std::optional<Instant> instantFromTime(std::time_t time) {
    sys_seconds seconds{std::chrono::seconds{time}};
    if (!representable(seconds)) return std::nullopt;
    return time_point_cast<Instant::duration>(seconds);
}

std::optional<Instant> shifted(Instant instant, seconds offset) {
    // Limits far inside what 64-bit seconds hold, so that the sum below cannot overflow.
    constexpr seconds kFarther = days{400 * 366};
    if (offset > kFarther || offset < -kFarther) return std::nullopt;
    const sys_seconds whole = floor<seconds>(instant);
    if (!representable(whole + offset)) return std::nullopt;
    return instant + offset;
}

seconds secondsBetween(Instant from, Instant to) {
    return floor<seconds>(to) - floor<seconds>(from);
}

DueDate localComponents(Instant date, bool withTime) {
    std::time_t t = system_clock::to_time_t(floor<seconds>(date));
    std::tm fields{};
    tzset();  // localtime_r alone keeps the zone it first saw
    localtime_r(&t, &fields);
    DueDate due{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, {}, {}};
    if (withTime) {
        due.hour = fields.tm_hour;
        due.minute = fields.tm_min;
    }
    return due;
}

}  // namespace lumory::cal
