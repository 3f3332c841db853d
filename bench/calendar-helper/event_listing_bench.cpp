// "events" for one month and one year of a calendar with 10,000 events and 100 weekly series,
// through the helper, beside the raw EDS query plus expansion measured in the same run.
//   calendar_event_listing_bench            runs itself inside a private EDS
// Prints, per window, the helper's time, the raw time and their ratio (aim: at most 1.20).

#include <libecal/libecal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../bench_report.h"
#include "process/line_protocol_process.h"

namespace {

using namespace std::chrono;
using lumory::testsupport::LineProtocolProcess;
using nlohmann::json;

constexpr int kSingleEvents = 10000;
constexpr int kWeeklySeries = 100;
constexpr int kRounds = 9;

double millisecondsSince(steady_clock::time_point start) {
    return duration<double, std::milli>(steady_clock::now() - start).count();
}

std::string stamp(int dayOfYear, int minutes) {
    GDateTime* base = g_date_time_new_utc(2025, 1, 1, 0, 0, 0);
    GDateTime* when = g_date_time_add_minutes(base, dayOfYear * 24 * 60 + minutes);
    gchar* text = g_date_time_format(when, "%Y%m%dT%H%M%SZ");
    std::string result = text;
    g_free(text);
    g_date_time_unref(when);
    g_date_time_unref(base);
    return result;
}

std::string addCalendar(ESourceRegistry* registry) {
    ESource* source = e_source_new(nullptr, nullptr, nullptr);
    e_source_set_display_name(source, "Bench");
    e_source_set_parent(source, "local-stub");
    e_source_backend_set_backend_name(
        E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR)), "local");
    GList* list = g_list_append(nullptr, source);
    bool created = e_source_registry_create_sources_sync(registry, list, nullptr, nullptr);
    g_list_free(list);
    std::string uid = created ? e_source_get_uid(source) : "";
    g_object_unref(source);
    return uid;
}

void fill(ECalClient* client) {
    std::vector<std::string> texts;
    for (int n = 0; n < kSingleEvents; ++n) {
        int day = n % 365, minute = 8 * 60 + (n * 7) % 600;
        texts.push_back("BEGIN:VEVENT\r\nUID:single-" + std::to_string(n) +
                        "\r\nDTSTAMP:20250101T000000Z\r\n"
                        "DTSTART:" +
                        stamp(day, minute) + "\r\nDTEND:" + stamp(day, minute + 45) +
                        "\r\nSUMMARY:Event " + std::to_string(n) + "\r\nLOCATION:Room " +
                        std::to_string(n % 40) + "\r\nEND:VEVENT\r\n");
    }
    for (int n = 0; n < kWeeklySeries; ++n) {
        int day = n % 7, minute = 9 * 60 + n;
        texts.push_back("BEGIN:VEVENT\r\nUID:weekly-" + std::to_string(n) +
                        "\r\nDTSTAMP:20250101T000000Z\r\n"
                        "DTSTART:" +
                        stamp(day, minute) + "\r\nDTEND:" + stamp(day, minute + 30) +
                        "\r\nRRULE:FREQ=WEEKLY\r\nSUMMARY:Weekly " + std::to_string(n) +
                        "\r\nEND:VEVENT\r\n");
    }
    const size_t batch = 500;
    for (size_t start = 0; start < texts.size(); start += batch) {
        GSList* components = nullptr;
        for (size_t i = start; i < std::min(texts.size(), start + batch); ++i)
            components =
                g_slist_prepend(components, i_cal_component_new_from_string(texts[i].c_str()));
        e_cal_client_create_objects_sync(client, components, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                         nullptr, nullptr);
        g_slist_free_full(components, g_object_unref);
    }
}

gboolean countInstance(ICalComponent*, ICalTime*, ICalTime*, gpointer count, GCancellable*,
                       GError**) {
    ++*static_cast<size_t*>(count);
    return TRUE;
}

// What any reader of EDS pays: one time-range query, the series' components, their expansion.
size_t rawListing(ECalClient* client, const std::string& from, const std::string& to) {
    std::string query =
        "(occur-in-time-range? (make-time \"" + from + "\") (make-time \"" + to + "\"))";
    GSList* found = nullptr;
    e_cal_client_get_object_list_sync(client, query.c_str(), &found, nullptr, nullptr);
    size_t count = 0;
    ICalTimezone* utc = i_cal_timezone_get_utc_timezone();
    ICalTime* start = i_cal_time_new_from_string(from.c_str());
    ICalTime* end = i_cal_time_new_from_string(to.c_str());
    for (GSList* item = found; item; item = item->next) {
        auto* ical = static_cast<ICalComponent*>(item->data);
        if (!e_cal_util_component_has_recurrences(ical)) {
            ++count;
            continue;
        }
        GSList* series = nullptr;
        e_cal_client_get_objects_for_uid_sync(client, i_cal_component_get_uid(ical), &series,
                                              nullptr, nullptr);
        for (GSList* part = series; part; part = part->next) {
            ICalComponent* master = e_cal_component_get_icalcomponent(E_CAL_COMPONENT(part->data));
            if (e_cal_util_component_is_instance(master)) continue;
            e_cal_recur_generate_instances_sync(master, start, end, countInstance, &count,
                                                e_cal_client_tzlookup_cb, client, utc, nullptr,
                                                nullptr);
        }
        g_slist_free_full(series, g_object_unref);
    }
    g_object_unref(start);
    g_object_unref(end);
    g_slist_free_full(found, g_object_unref);
    return count;
}

int inside() {
    ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
    if (!registry) return 1;
    std::string uid = addCalendar(registry);
    ESource* source = e_source_registry_ref_source(registry, uid.c_str());
    EClient* opened = source ? e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                                         guint32(-1), nullptr, nullptr)
                             : nullptr;
    if (!opened) return 1;
    auto* client = E_CAL_CLIENT(opened);
    auto filling = steady_clock::now();
    fill(client);
    std::printf("filled %d events and %d weekly series in %.0f ms\n", kSingleEvents, kWeeklySeries,
                millisecondsSince(filling));

    LineProtocolProcess helper({LUMORY_CAL_PATH}, {"LUMORY_DESKTOP=1", "TZ=UTC"});
    if (!helper.readLine(60s)) return 1;
    struct Window {
        const char* name;
        const char* from;
        const char* to;
    };
    int id = 0;
    auto ask = [&](const Window& window, size_t& events) {
        json request = {{"id", ++id},
                        {"cmd", "events"},
                        {"from", window.from},
                        {"to", window.to},
                        {"calendars", {uid}}};
        auto start = steady_clock::now();
        helper.writeLine(request.dump());
        // Change notices may come first; the reply is the line with this request's id.
        const std::string idKey = "\"id\":" + std::to_string(id);
        std::optional<std::string> line;
        while ((line = helper.readLine(600s)) && line->find(idKey) == std::string::npos) {
        }
        double elapsed = millisecondsSince(start);
        events = line ? json::parse(*line)["events"].size() : 0;
        return elapsed;
    };
    auto icalText = [](const char* iso) {
        std::string text;
        for (const char* c = iso; *c; ++c)
            if (*c != '-' && *c != ':') text += *c;
        return text;
    };

    for (Window window : {Window{"empty", "2024-06-01T00:00:00Z", "2024-06-01T00:01:00Z"},
                          Window{"June", "2025-06-01T00:00:00Z", "2025-07-01T00:00:00Z"},
                          Window{"year", "2025-01-01T00:00:00Z", "2026-01-01T00:00:00Z"}}) {
        size_t helperEvents = 0, rawEvents = 0;
        ask(window, helperEvents);  // opens the helper's client
        rawListing(client, icalText(window.from), icalText(window.to));
        std::vector<double> helperTimes, rawTimes;
        // Alternating which goes first evens out what the other processes on the machine do.
        for (int round = 0; round < kRounds; ++round) {
            auto raw = [&] {
                auto start = steady_clock::now();
                rawEvents = rawListing(client, icalText(window.from), icalText(window.to));
                rawTimes.push_back(millisecondsSince(start));
            };
            if (round % 2) raw();
            helperTimes.push_back(ask(window, helperEvents));
            if (round % 2 == 0) raw();
        }
        std::sort(helperTimes.begin(), helperTimes.end());
        std::sort(rawTimes.begin(), rawTimes.end());
        double helperMedian = helperTimes[kRounds / 2], rawMedian = rawTimes[kRounds / 2];
        std::printf(
            "%-5s helper %7.1f ms (%zu events)  raw query+expansion %7.1f ms (%zu instances)  "
            "ratio %.2f\n",
            window.name, helperMedian, helperEvents, rawMedian, rawEvents,
            helperMedian / rawMedian);
        lumory::bench::reportFigure(std::string("calendar events listing, ") + window.name, "ms",
                                    helperTimes, rawTimes);
    }
    g_object_unref(client);
    g_object_unref(source);
    g_object_unref(registry);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--inside") == 0) return inside();
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return 1;
    self[length] = '\0';
    LineProtocolProcess run({LUMORY_EDS_SESSION, "--limit", "900", self, "--inside"});
    while (auto line = run.readLine(900s)) std::printf("%s\n", line->c_str());
    auto status = run.waitForExit(10s);
    return status.value_or(1);
}
