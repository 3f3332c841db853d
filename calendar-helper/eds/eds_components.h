#pragma once

// Ownership helpers for libecal's boxed values, and the event fields as iCalendar holds them.

#include <libecal/libecal.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "event_store.h"
#include "gobject_ptr.h"

namespace lumory::cal::eds {

template <void (*Free)(gpointer)>
struct BoxedFree {
    void operator()(void* value) const { Free(value); }
};
using OwnedDateTime =
    std::unique_ptr<ECalComponentDateTime, BoxedFree<e_cal_component_datetime_free>>;
using OwnedText = std::unique_ptr<ECalComponentText, BoxedFree<e_cal_component_text_free>>;
using OwnedRange = std::unique_ptr<ECalComponentRange, BoxedFree<e_cal_component_range_free>>;

// Frees a GSList and its elements with `Free`.
template <void (*Free)(gpointer)>
struct OwnedList {
    GSList* list = nullptr;
    ~OwnedList() { g_slist_free_full(list, Free); }
};

// The SUMMARY's text; nothing when the component has none.
std::optional<std::string> summaryOf(ECalComponent* component);

// A series' master (it repeats by rule or date) or one of its detached occurrences.
bool inSeries(ICalComponent* component);

// An event (or one occurrence) as stored; `client` resolves the zones its times name.
Event eventFrom(ECalComponent* component, const Calendar& calendar, ECalClient* client);
Event eventFrom(ICalComponent* component, const Calendar& calendar, ECalClient* client);
// Writes the event's own fields onto a component, leaving what the peer cannot see (alarms,
// attendees, categories...) as it was, and start and end too unless they change. `client`
// resolves the zones the component's times name.
void fillComponent(ECalComponent* component, const Event& event, ECalClient* client);

// An all-day event covers whole local days; its end is exclusive, at least one day on.
Instant allDayEnd(Instant start, Instant end);

// The zone and kind of a series' DTSTART, in which its RECURRENCE-IDs are written.
struct SeriesTime {
    ICalTimezone* zone = nullptr;  // null: floating
    std::string tzid;
    bool isDate = false;
};
SeriesTime seriesTimeOf(ECalComponent* master, ECalClient* client);
// The RECURRENCE-ID text of the occurrence at `occurrence`, as the backend keys it.
std::string recurrenceIdText(const SeriesTime& series, Instant occurrence);

std::optional<Instant> recurrenceInstant(ECalComponent* component, ECalClient* client);

// Every stored component of a uid (master and detached occurrences); empty when none.
std::vector<GObjectPtr<ECalComponent>> componentsForUid(ECalClient* client, const std::string& uid);
// The series itself among a uid's components; null when only detached occurrences are stored.
GObjectPtr<ECalComponent> masterOf(const std::vector<GObjectPtr<ECalComponent>>& components);

}  // namespace lumory::cal::eds
