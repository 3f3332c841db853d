// Events as iCalendar components hold them: reading an event's fields, writing them back, and
// the keys of a series' occurrences.

#include <algorithm>

#include "calendar_values.h"
#include "eds_components.h"
#include "eds_time.h"

namespace lumory::cal::eds {
namespace {

using namespace std::chrono;

// How Outlook and Exchange mark "out of office", the one availability iCalendar lacks.
constexpr const char* kBusyStatusProperty = "X-MICROSOFT-CDO-BUSYSTATUS";
constexpr const char* kOutOfOffice = "OOF";

std::optional<std::string> ownedText(gchar* text) {
    if (!text) return std::nullopt;
    std::string value = text;
    g_free(text);
    return value;
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) return std::nullopt;
    return text;
}

int availabilityOf(ECalComponent* component) {
    ICalComponent* ical = e_cal_component_get_icalcomponent(component);
    if (e_cal_component_get_transparency(component) == E_CAL_COMPONENT_TRANSP_TRANSPARENT)
        return kAvailabilityFree;
    if (e_cal_component_get_status(component) == I_CAL_STATUS_TENTATIVE)
        return kAvailabilityTentative;
    g_autofree gchar* busy = e_cal_util_component_dup_x_property(ical, kBusyStatusProperty);
    if (busy && g_ascii_strcasecmp(busy, kOutOfOffice) == 0) return kAvailabilityUnavailable;
    return kAvailabilityBusy;
}

Instant nextLocalMidnight(Instant instant) {
    DueDate day = localComponents(instant, false);
    year_month_day next{sys_days{year{day.year} / day.month / day.day} + days{1}};
    return localMidnight(int(next.year()), int(unsigned(next.month())), int(unsigned(next.day())));
}

}  // namespace

Instant allDayEnd(Instant start, Instant end) {
    DueDate endDay = localComponents(end, false);
    Instant endMidnight = localMidnight(endDay.year, endDay.month, endDay.day);
    Instant rounded = end > endMidnight ? nextLocalMidnight(end) : endMidnight;
    DueDate startDay = localComponents(start, false);
    Instant startMidnight = localMidnight(startDay.year, startDay.month, startDay.day);
    return rounded > startMidnight ? rounded : nextLocalMidnight(start);
}

namespace {

void setText(ECalComponent* component, const std::optional<std::string>& title) {
    if (!title) return e_cal_component_set_summary(component, nullptr);
    OwnedText text(e_cal_component_text_new(title->c_str(), nullptr));
    e_cal_component_set_summary(component, text.get());
}

// Writes a time in `zone` (UTC named as such, or the component writes a floating time), or as a
// local date.
void setTime(ECalComponent* component, Instant instant, bool isDate, ICalTimezone* zone,
             bool start) {
    GObjectPtr<ICalTime> time;
    const char* tzid = nullptr;
    ICalTimezone* utc = i_cal_timezone_get_utc_timezone();
    if (isDate) {
        time = GObjectPtr<ICalTime>::adopt(localDate(instant));
    } else if (!zone || zone == utc) {
        time = GObjectPtr<ICalTime>::adopt(utcTime(instant));
        tzid = "UTC";
    } else {
        time = GObjectPtr<ICalTime>::adopt(timeInZone(instant, zone, false));
        tzid = i_cal_timezone_get_tzid(zone);
    }
    OwnedDateTime value(e_cal_component_datetime_new(time.get(), tzid));
    if (start)
        e_cal_component_set_dtstart(component, value.get());
    else
        e_cal_component_set_dtend(component, value.get());
}

// Start and end are rewritten only when they change, each in the zone it was written in; a
// time that had none (a new event, a date, a floating time) gets the local zone, as Evolution
// gives it. Rewriting an untouched time in UTC would show the event in UTC there and let a
// series drift across daylight-saving changes.
void fillTimes(ECalComponent* component, const Event& event, ECalClient* client) {
    if (!event.startDate) return;
    Instant end = event.endDate.value_or(*event.startDate);
    if (event.isAllDay) end = allDayEnd(*event.startDate, end);
    const Event stored = eventFrom(component, Calendar{}, client);
    const bool sameKind = stored.isAllDay == event.isAllDay;
    const bool startSame = sameKind && stored.startDate == event.startDate;
    const bool endSame = sameKind && stored.endDate == end;
    if (startSame && endSame) return;

    ICalComponent* ical = e_cal_component_get_icalcomponent(component);
    OwnedDateTime oldStart(e_cal_component_get_dtstart(component));
    OwnedDateTime oldEnd(e_cal_component_get_dtend(component));
    ICalTimezone* startZone = zoneOf(oldStart.get(), client);
    if (!startZone) startZone = localTimezone();
    ICalTimezone* endZone = oldEnd ? zoneOf(oldEnd.get(), client) : startZone;
    if (!endZone) endZone = startZone;
    if (!startSame) setTime(component, *event.startDate, event.isAllDay, startZone, true);
    // DTEND and DURATION must not both be present; a duration would move the end with the start.
    const bool hasDuration =
        e_cal_util_component_has_property(ical, I_CAL_DURATION_PROPERTY) != FALSE;
    if (!endSame || hasDuration || !oldEnd) {
        e_cal_util_component_remove_property_by_kind(ical, I_CAL_DURATION_PROPERTY, TRUE);
        setTime(component, end, event.isAllDay, endZone, false);
    }
}

}  // namespace

std::optional<std::string> summaryOf(ECalComponent* component) {
    OwnedText summary{e_cal_component_get_summary(component)};
    if (!summary) return std::nullopt;
    const char* value = e_cal_component_text_get_value(summary.get());
    return value ? value : "";
}

std::optional<Instant> recurrenceInstant(ECalComponent* component, ECalClient* client) {
    OwnedRange range(e_cal_component_get_recurid(component));
    if (!range) return std::nullopt;
    return instantOf(e_cal_component_range_get_datetime(range.get()), client);
}

Event eventFrom(ECalComponent* component, const Calendar& calendar, ECalClient* client) {
    ICalComponent* ical = e_cal_component_get_icalcomponent(component);
    Event event;
    if (const char* uid = e_cal_component_get_uid(component)) event.identifier = uid;
    event.title = summaryOf(component);
    event.calendar = calendar;
    event.storedCalendarId = calendar.identifier;
    event.hasRecurrenceRules =
        e_cal_component_has_recurrences(component) || e_cal_component_is_instance(component);
    event.availability = availabilityOf(component);

    OwnedDateTime start(e_cal_component_get_dtstart(component));
    if (start) {
        ICalTime* value = e_cal_component_datetime_get_value(start.get());
        event.isAllDay = value && i_cal_time_is_date(value);
        event.startDate = instantOf(start.get(), client);
    }
    OwnedDateTime end(e_cal_component_get_dtend(component));
    if (end) event.endDate = instantOf(end.get(), client);
    if (!event.endDate && event.startDate) {
        if (auto duration = GObjectPtr<ICalDuration>::adopt(i_cal_component_get_duration(ical));
            duration && !i_cal_duration_is_null_duration(duration.get()))
            // An end beyond the years an instant holds is no end.
            event.endDate =
                shifted(*event.startDate, seconds{i_cal_duration_as_int(duration.get())});
        else if (event.isAllDay)
            event.endDate = nextLocalMidnight(*event.startDate);
    }
    event.recurrenceDate = recurrenceInstant(component, client);

    if (auto modified = GObjectPtr<ICalTime>::adopt(e_cal_component_get_last_modified(component)))
        event.lastModifiedDate = instantOf(modified.get(), "UTC", client);

    OwnedList<e_cal_component_text_free> descriptions{e_cal_component_get_descriptions(component)};
    if (descriptions.list) {
        const char* value = e_cal_component_text_get_value(
            static_cast<ECalComponentText*>(descriptions.list->data));
        if (value) event.notes = value;
    }
    event.url = nonEmpty(ownedText(e_cal_component_get_url(component)));
    event.location = ownedText(e_cal_component_get_location(component));

    OwnedList<e_cal_component_attendee_free> attendees{e_cal_component_get_attendees(component)};
    if (attendees.list) {
        event.attendees.emplace();
        for (GSList* item = attendees.list; item; item = item->next) {
            auto* attendee = static_cast<ECalComponentAttendee*>(item->data);
            const char* name = e_cal_component_attendee_get_cn(attendee);
            const char* address = e_cal_component_attendee_get_value(attendee);
            event.attendees->push_back({name ? name : "", address ? address : ""});
        }
    }
    return event;
}

void fillComponent(ECalComponent* component, const Event& event, ECalClient* client) {
    ICalComponent* ical = e_cal_component_get_icalcomponent(component);
    setText(component, event.title);
    fillTimes(component, event, client);
    if (event.notes) {
        OwnedText text(e_cal_component_text_new(event.notes->c_str(), nullptr));
        GSList single{text.get(), nullptr};
        e_cal_component_set_descriptions(component, &single);
    } else {
        e_cal_component_set_descriptions(component, nullptr);
    }
    e_cal_component_set_location(component, event.location ? event.location->c_str() : nullptr);
    e_cal_component_set_url(component, event.url ? event.url->c_str() : nullptr);

    e_cal_component_set_transparency(component, event.availability == kAvailabilityFree
                                                    ? E_CAL_COMPONENT_TRANSP_TRANSPARENT
                                                    : E_CAL_COMPONENT_TRANSP_OPAQUE);
    bool tentative = e_cal_component_get_status(component) == I_CAL_STATUS_TENTATIVE;
    if (event.availability == kAvailabilityTentative)
        e_cal_component_set_status(component, I_CAL_STATUS_TENTATIVE);
    else if (tentative)
        e_cal_component_set_status(component, I_CAL_STATUS_NONE);
    g_autofree gchar* busy = e_cal_util_component_dup_x_property(ical, kBusyStatusProperty);
    if (event.availability == kAvailabilityUnavailable)
        e_cal_util_component_set_x_property(ical, kBusyStatusProperty, kOutOfOffice);
    else if (busy && g_ascii_strcasecmp(busy, kOutOfOffice) == 0)
        e_cal_util_component_remove_x_property(ical, kBusyStatusProperty);

    auto modified =
        GObjectPtr<ICalTime>::adopt(utcTime(event.lastModifiedDate.value_or(system_clock::now())));
    e_cal_component_set_last_modified(component, modified.get());
}

SeriesTime seriesTimeOf(ECalComponent* master, ECalClient* client) {
    SeriesTime series;
    OwnedDateTime start(e_cal_component_get_dtstart(master));
    if (!start) return series;
    ICalTime* value = e_cal_component_datetime_get_value(start.get());
    series.isDate = value && i_cal_time_is_date(value);
    if (value && i_cal_time_is_utc(value)) {
        // Named, or the component writes the occurrence's time as a floating one.
        series.zone = i_cal_timezone_get_utc_timezone();
        series.tzid = "UTC";
    } else if (const char* tzid = e_cal_component_datetime_get_tzid(start.get()); tzid && *tzid) {
        series.tzid = tzid;
        series.zone = e_cal_client_tzlookup_cb(tzid, client, nullptr, nullptr);
        if (!series.zone) series.zone = i_cal_timezone_get_builtin_timezone_from_tzid(tzid);
    }
    return series;
}

std::string recurrenceIdText(const SeriesTime& series, Instant occurrence) {
    auto time = GObjectPtr<ICalTime>::adopt(timeInZone(occurrence, series.zone, series.isDate));
    g_autofree gchar* text = i_cal_time_as_ical_string(time.get());
    return text ? text : "";
}

std::vector<GObjectPtr<ECalComponent>> componentsForUid(ECalClient* client,
                                                        const std::string& uid) {
    std::vector<GObjectPtr<ECalComponent>> result;
    GSList* components = nullptr;
    if (!e_cal_client_get_objects_for_uid_sync(client, uid.c_str(), &components, nullptr, nullptr))
        return result;
    for (GSList* item = components; item; item = item->next)
        result.push_back(GObjectPtr<ECalComponent>::adopt(E_CAL_COMPONENT(item->data)));
    g_slist_free(components);
    return result;
}

GObjectPtr<ECalComponent> masterOf(const std::vector<GObjectPtr<ECalComponent>>& components) {
    for (auto& component : components)
        if (!e_cal_component_is_instance(component.get())) return component;
    return {};
}

}  // namespace lumory::cal::eds
