// A pathological series through the helper: one event repeating every minute, listed over a
// whole year (525,600 occurrences), then a status request that must still be answered.
//   calendar_series_bench [--baseline OTHER_LUMORY_CAL]
// Prints, for this build (and the baseline), the time to the listing's reply, its size, the
// helper's peak resident memory, and whether the next request was answered.

#include <libecal/libecal.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using namespace std::chrono;
using lumory::testsupport::LineProtocolProcess;

std::string addMinutelySeries() {
    ESourceRegistry* registry = e_source_registry_new_sync(nullptr, nullptr);
    if (!registry) return {};
    ESource* source = e_source_new(nullptr, nullptr, nullptr);
    e_source_set_display_name(source, "Every minute");
    e_source_set_parent(source, "local-stub");
    e_source_backend_set_backend_name(
        E_SOURCE_BACKEND(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR)), "local");
    GList* list = g_list_append(nullptr, source);
    bool created = e_source_registry_create_sources_sync(registry, list, nullptr, nullptr);
    g_list_free(list);
    std::string uid = created ? e_source_get_uid(source) : "";
    EClient* client = created ? e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                                          guint32(-1), nullptr, nullptr)
                              : nullptr;
    g_object_unref(source);
    g_object_unref(registry);
    if (!client) return {};
    ICalComponent* event = i_cal_component_new_from_string(
        "BEGIN:VEVENT\r\nUID:every-minute\r\nDTSTAMP:20250101T000000Z\r\n"
        "DTSTART:20300101T000000Z\r\nDTEND:20300101T000030Z\r\n"
        "RRULE:FREQ=MINUTELY;UNTIL=20310101T000000Z\r\nSUMMARY:Tick\r\nEND:VEVENT\r\n");
    bool added = e_cal_client_create_object_sync(
        E_CAL_CLIENT(client), event, E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr, nullptr);
    g_object_unref(event);
    g_object_unref(client);
    return added ? uid : std::string();
}

void measure(const std::string& helperPath, const std::string& calendar, const char* label) {
    LineProtocolProcess helper({helperPath}, {"LUMORY_DESKTOP=1"});
    if (!helper.readLine(60s)) {
        std::printf("%-12s no ready notice\n", label);
        return;
    }
    const double startRss = lumory::bench::processMemoryMiB(helper.pid(), "VmRSS");
    const auto started = steady_clock::now();
    helper.writeLine(R"({"id":1,"cmd":"events","from":"2030-01-01T00:00:00Z",)"
                     R"("to":"2031-01-01T00:00:00Z","calendars":[")" +
                     calendar + "\"]}");
    helper.writeLine(R"({"id":2,"cmd":"status"})");
    double peak = 0;
    std::optional<std::string> listing;
    std::optional<std::string> status;
    // The peak is read while the helper still runs.
    while (auto line = helper.readLine(600s)) {
        peak = std::max(peak, lumory::bench::processMemoryMiB(helper.pid(), "VmHWM"));
        if (line->find("\"id\":1") != std::string::npos && !listing) {
            listing = std::move(*line);
        } else if (line->find("\"id\":2") != std::string::npos) {
            status = std::move(*line);
            break;
        }
    }
    const double elapsed = lumory::bench::millisecondsSince(started);
    size_t occurrences = 0;
    if (listing)
        for (size_t at = 0; (at = listing->find("\"occurrence\"", at)) != std::string::npos; ++at)
            ++occurrences;
    std::printf(
        "%-12s %9.0f ms %9zu occurrences %8.1f MiB reply %8.1f MiB peak RSS (%.1f at "
        "start) next request %s%s\n",
        label, elapsed, occurrences, listing ? listing->size() / 1048576.0 : 0.0, peak, startRss,
        status ? "answered" : "NOT answered",
        listing && listing->find("\"error\"") != std::string::npos ? " (listing failed)" : "");
    helper.closeInput();
    helper.waitForExit(30s);
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string baseline;
    bool inSession = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--baseline") == 0 && i + 1 < argc) baseline = argv[++i];
        if (std::strcmp(argv[i], "--in-session") == 0) inSession = true;
    }
    if (!inSession) {
        std::vector<std::string> arguments = {lumory::bench::selfPath(), "--in-session"};
        if (!baseline.empty()) arguments.insert(arguments.end(), {"--baseline", baseline});
        return lumory::bench::runInSession(LUMORY_EDS_SESSION, arguments, 1200s) ? 0 : 1;
    }
    const std::string calendar = addMinutelySeries();
    if (calendar.empty()) {
        std::fprintf(stderr, "could not add the series\n");
        return 1;
    }
    std::printf("one event every minute, listed over a year:\n");
    // Both listed twice, by turns, so that neither pays alone for EDS loading the calendar.
    const int rounds = baseline.empty() ? 1 : 2;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 1 && !baseline.empty()) measure(baseline, calendar, "baseline");
        measure(LUMORY_CAL_PATH, calendar, "this build");
        if (round % 2 == 0 && !baseline.empty()) measure(baseline, calendar, "baseline");
    }
    return 0;
}
