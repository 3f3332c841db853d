// Repeating events are expanded here rather than by the calendar backend: its expansion drops
// occurrences within the zone's offset of one end of the window, and after one occurrence was
// changed it keeps returning the old one while any client holds the calendar open.

#include "eds_event_listing.h"

#include <memory>
#include <set>

#include "calendar_values.h"
#include "eds_components.h"
#include "eds_sources.h"
#include "eds_time.h"
#include "events.h"

namespace lumory::cal::eds {
namespace {

using namespace std::chrono;

struct Expansion {
    ECalClient* client;
    const Event* master;
    std::uint32_t pattern;
    const std::set<Instant>* detached;
    Instant start, end;
    EventListing* out;
};

// Each occurrence adds only its times; the series' fields stay in its one pattern.
gboolean onInstance(ICalComponent*, ICalTime* instanceStart, ICalTime* instanceEnd, gpointer data,
                    GCancellable*, GError**) {
    auto* expansion = static_cast<Expansion*>(data);
    auto start = instantOf(instanceStart, i_cal_time_get_tzid(instanceStart), expansion->client);
    if (!start || expansion->detached->count(*start)) return TRUE;
    const Event& master = *expansion->master;
    std::optional<Instant> end;
    if (auto instant = instantOf(instanceEnd, i_cal_time_get_tzid(instanceEnd), expansion->client))
        end = std::max(*instant, *start);
    else if (master.startDate && master.endDate)
        end = shifted(*start, secondsBetween(*master.startDate, *master.endDate));
    if (occursInWindow(*start, end, expansion->start, expansion->end))
        expansion->out->occurrences.push_back({*start, end, *start, expansion->pattern});
    return TRUE;
}

// The stored components of several series (each master with its detached occurrences), asked
// for together: libecal answers each request on a thread of its own, so the round trips overlap
// one another and whatever the caller does meanwhile, instead of queueing one after another.
class SeriesFetch {
public:
    SeriesFetch(ECalClient* client, const std::vector<std::string>& uids)
        : context(g_main_context_new()), fetched(uids.size()), outstanding(uids.size()) {
        // Answers arrive on the context that was the thread's default when they were asked for.
        g_main_context_push_thread_default(context);
        for (std::size_t index = 0; index < uids.size(); ++index)
            e_cal_client_get_objects_for_uid(client, uids[index].c_str(), nullptr, onFetched,
                                             new Request{this, index});
        g_main_context_pop_thread_default(context);
    }
    // Every answer is in before the fetch goes: the requests point at it.
    ~SeriesFetch() {
        wait();
        g_main_context_unref(context);
    }
    SeriesFetch(const SeriesFetch&) = delete;
    SeriesFetch& operator=(const SeriesFetch&) = delete;

    // Each uid's components, in the order asked for; empty where the request failed.
    std::vector<std::vector<GObjectPtr<ECalComponent>>>& components() {
        wait();
        return fetched;
    }

private:
    struct Request {
        SeriesFetch* fetch;
        std::size_t index;
    };

    void wait() {
        while (outstanding > 0) g_main_context_iteration(context, TRUE);
    }

    static void onFetched(GObject* client, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Request> request(static_cast<Request*>(data));
        GSList* list = nullptr;
        if (e_cal_client_get_objects_for_uid_finish(E_CAL_CLIENT(client), result, &list, nullptr)) {
            auto& components = request->fetch->fetched[request->index];
            for (GSList* item = list; item; item = item->next)
                components.push_back(GObjectPtr<ECalComponent>::adopt(E_CAL_COMPONENT(item->data)));
            g_slist_free(list);
        }
        --request->fetch->outstanding;
    }

    GMainContext* context;
    std::vector<std::vector<GObjectPtr<ECalComponent>>> fetched;
    std::size_t outstanding;
};

void expandSeries(ECalClient* client, const Calendar& calendar,
                  const std::vector<GObjectPtr<ECalComponent>>& components, Instant start,
                  Instant end, EventListing& out) {
    std::set<Instant> detached;
    GObjectPtr<ECalComponent> master;
    for (auto& component : components) {
        if (!e_cal_component_is_instance(component.get())) {
            master = component;
            continue;
        }
        Event occurrence = eventFrom(component.get(), calendar, client);
        if (occurrence.recurrenceDate) detached.insert(*occurrence.recurrenceDate);
        if (eventInWindow(occurrence, start, end)) out.add(std::move(occurrence));
    }
    if (!master) return;
    const auto pattern = static_cast<std::uint32_t>(out.patterns.size());
    out.patterns.push_back(eventFrom(master.get(), calendar, client));
    const std::size_t before = out.occurrences.size();
    Expansion expansion{client, &out.patterns.back(), pattern, &detached, start, end, &out};
    auto from = GObjectPtr<ICalTime>::adopt(utcTime(start - kZoneMargin));
    auto to = GObjectPtr<ICalTime>::adopt(utcTime(end + kZoneMargin));
    e_cal_recur_generate_instances_sync(e_cal_component_get_icalcomponent(master.get()), from.get(),
                                        to.get(), onInstance, &expansion, e_cal_client_tzlookup_cb,
                                        client, localTimezone(), nullptr, nullptr);
    // A series with nothing in the window leaves no pattern behind.
    if (out.occurrences.size() == before) out.patterns.pop_back();
}

// Occurrences in [start, end) of the client's events.
void collectOccurrences(ECalClient* client, const Calendar& calendar, Instant start, Instant end,
                        EventListing& out) {
    if (end <= start) return;
    std::string query = "(occur-in-time-range? (make-time \"" + utcText(start - kZoneMargin) +
                        "\") (make-time \"" + utcText(end + kZoneMargin) + "\"))";
    GSList* found = nullptr;
    if (!e_cal_client_get_object_list_sync(client, query.c_str(), &found, nullptr, nullptr)) return;
    std::vector<std::string> series;
    std::set<std::string> seen;
    for (GSList* item = found; item; item = item->next) {
        auto* ical = static_cast<ICalComponent*>(item->data);
        if (!inSeries(ical)) continue;
        const char* uid = i_cal_component_get_uid(ical);
        if (uid && seen.insert(uid).second) series.push_back(uid);
    }
    // The series travel while the single events are read.
    SeriesFetch fetch(client, series);
    for (GSList* item = found; item; item = item->next) {
        auto* ical = static_cast<ICalComponent*>(item->data);
        if (inSeries(ical)) continue;
        Event event = eventFrom(ical, calendar, client);
        if (eventInWindow(event, start, end)) out.add(std::move(event));
    }
    g_slist_free_full(found, g_object_unref);
    for (const auto& components : fetch.components())
        expandSeries(client, calendar, components, start, end, out);
}

}  // namespace

EventListing eventListing(ESourceRegistry* registry, ClientCache& clients, Instant start,
                          Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    EventListing listing;
    for (auto& open : openSources(registry, EntityType::event, clients, calendarIds)) {
        if (!open.client) continue;
        collectOccurrences(open.client.get(), open.calendar, start, end, listing);
    }
    return listing;
}

std::optional<Event> storedEvent(ESourceRegistry* registry, ClientCache& clients,
                                 const std::string& identifier) {
    for (auto& open : openSources(registry, EntityType::event, clients)) {
        if (!open.client) continue;
        auto components = componentsForUid(open.client.get(), identifier);
        if (components.empty()) continue;
        auto master = masterOf(components);
        if (!master) return eventFrom(components.front().get(), open.calendar, open.client.get());
        Event first = eventFrom(master.get(), open.calendar, open.client.get());
        if (!first.hasRecurrenceRules) return first;
        // A series stands for its first occurrence, which may have been changed on its own.
        for (auto& component : components) {
            auto rid = recurrenceInstant(component.get(), open.client.get());
            if (rid && rid == first.startDate)
                return eventFrom(component.get(), open.calendar, open.client.get());
        }
        first.recurrenceDate = first.startDate;
        return first;
    }
    return std::nullopt;
}

}  // namespace lumory::cal::eds
