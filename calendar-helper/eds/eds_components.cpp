// Events as iCalendar components hold them: reading an event's fields, writing them back, and
// the keys of a series' occurrences.

#include <algorithm>
#include <cstring>

#include "calendar_values.h"
#include "eds_components.h"
#include "eds_time.h"

namespace lumory::cal::eds {
namespace {

using namespace std::chrono;

// How Outlook and Exchange mark "out of office", the one availability iCalendar lacks.
constexpr const char* kBusyStatusProperty = "X-MICROSOFT-CDO-BUSYSTATUS";
constexpr const char* kOutOfOffice = "OOF";

std::optional<std::string> ownedCopy(const char* text) {
    if (!text) return std::nullopt;
    return text;
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) return std::nullopt;
    return text;
}

// Events are read through libical itself: libical-glib and ECalComponent wrap every property,
// parameter and value they hand out in an object of its own, some twenty per event, which a
// year's listing paid for more than for the query. The reads follow ECalComponent's getters.
icalcomponent* nativeOf(ICalComponent* ical) {
    return static_cast<icalcomponent*>(i_cal_object_get_native(I_CAL_OBJECT(ical)));
}

icalproperty* firstOf(icalcomponent* component, icalproperty_kind kind) {
    return icalcomponent_get_first_property(component, kind);
}

int availabilityOf(icalcomponent* component) {
    if (icalproperty* transparency = firstOf(component, ICAL_TRANSP_PROPERTY)) {
        const icalproperty_transp value = icalproperty_get_transp(transparency);
        if (value == ICAL_TRANSP_TRANSPARENT || value == ICAL_TRANSP_TRANSPARENTNOCONFLICT)
            return kAvailabilityFree;
    }
    if (icalcomponent_get_status(component) == ICAL_STATUS_TENTATIVE) return kAvailabilityTentative;
    for (icalproperty* property = firstOf(component, ICAL_X_PROPERTY); property;
         property = icalcomponent_get_next_property(component, ICAL_X_PROPERTY)) {
        const char* name = icalproperty_get_x_name(property);
        if (!name || std::strcmp(name, kBusyStatusProperty) != 0) continue;
        g_autofree char* busy = icalproperty_get_value_as_string_r(property);
        return busy && g_ascii_strcasecmp(busy, kOutOfOffice) == 0 ? kAvailabilityUnavailable
                                                                   : kAvailabilityBusy;
    }
    return kAvailabilityBusy;
}

// A stored date-time with the TZID it names; "UTC" for a UTC value that names none.
struct StoredTime {
    icaltimetype value;
    const char* tzid;
};

std::optional<StoredTime> storedTime(icalcomponent* component, icalproperty_kind kind,
                                     icaltimetype (*valueOf)(const icalproperty*)) {
    icalproperty* property = firstOf(component, kind);
    if (!property) return std::nullopt;
    StoredTime time{valueOf(property), nullptr};
    if (icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER))
        time.tzid = icalparameter_get_tzid(tzid);
    else if (icaltime_is_utc(time.value))
        time.tzid = "UTC";
    return time;
}

// DTEND, or else DTSTART plus DURATION.
std::optional<StoredTime> storedEnd(icalcomponent* component) {
    const icalcomponent_kind kind = icalcomponent_isa(component);
    if (kind != ICAL_VEVENT_COMPONENT && kind != ICAL_VFREEBUSY_COMPONENT) return std::nullopt;
    if (auto end = storedTime(component, ICAL_DTEND_PROPERTY, icalproperty_get_dtend)) return end;
    if (!firstOf(component, ICAL_DURATION_PROPERTY)) return std::nullopt;
    const icaldurationtype duration = icalcomponent_get_duration(component);
    if (icaldurationtype_is_null_duration(duration) || icaldurationtype_is_bad_duration(duration))
        return std::nullopt;
    auto end = storedTime(component, ICAL_DTSTART_PROPERTY, icalproperty_get_dtstart);
    // A negative duration counts as none.
    if (!end || duration.is_neg) return end;
    // A date plus hours is a date-time.
    if (end->value.is_date && (duration.hours || duration.minutes || duration.seconds))
        end->value.is_date = 0;
    icaltime_adjust(&end->value, int(duration.days + 7 * duration.weeks), int(duration.hours),
                    int(duration.minutes), int(duration.seconds));
    return end;
}

std::optional<Instant> storedInstant(const std::optional<StoredTime>& time, ECalClient* client) {
    if (!time) return std::nullopt;
    return instantOf(time->value, time->tzid, client);
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

// Texts are read from the iCalendar component itself: ECalComponent's getters wrap every
// property and parameter in objects of their own, which long listings pay for many times over.
std::optional<std::string> summaryOf(ECalComponent* component) {
    return ownedCopy(i_cal_component_get_summary(e_cal_component_get_icalcomponent(component)));
}

std::optional<Instant> recurrenceInstant(ECalComponent* component, ECalClient* client) {
    return storedInstant(storedTime(nativeOf(e_cal_component_get_icalcomponent(component)),
                                    ICAL_RECURRENCEID_PROPERTY, icalproperty_get_recurrenceid),
                         client);
}

bool inSeries(ICalComponent* ical) {
    icalcomponent* component = nativeOf(ical);
    return firstOf(component, ICAL_RRULE_PROPERTY) || firstOf(component, ICAL_RDATE_PROPERTY) ||
           firstOf(component, ICAL_RECURRENCEID_PROPERTY);
}

Event eventFrom(ECalComponent* component, const Calendar& calendar, ECalClient* client) {
    return eventFrom(e_cal_component_get_icalcomponent(component), calendar, client);
}

Event eventFrom(ICalComponent* ical, const Calendar& calendar, ECalClient* client) {
    icalcomponent* component = nativeOf(ical);
    Event event;
    if (const char* uid = icalcomponent_get_uid(component)) event.identifier = uid;
    event.title = ownedCopy(icalcomponent_get_summary(component));
    event.calendar = calendar;
    event.storedCalendarId = calendar.identifier;
    event.hasRecurrenceRules = inSeries(ical);
    event.availability = availabilityOf(component);

    if (auto start = storedTime(component, ICAL_DTSTART_PROPERTY, icalproperty_get_dtstart)) {
        event.isAllDay = start->value.is_date;
        event.startDate = instantOf(start->value, start->tzid, client);
    }
    event.endDate = storedInstant(storedEnd(component), client);
    if (!event.endDate && event.startDate) {
        if (const icaldurationtype duration = icalcomponent_get_duration(component);
            !icaldurationtype_is_null_duration(duration))
            // An end beyond the years an instant holds is no end.
            event.endDate = shifted(*event.startDate, seconds{icaldurationtype_as_int(duration)});
        else if (event.isAllDay)
            event.endDate = nextLocalMidnight(*event.startDate);
    }
    event.recurrenceDate = storedInstant(
        storedTime(component, ICAL_RECURRENCEID_PROPERTY, icalproperty_get_recurrenceid), client);
    if (icalproperty* modified = firstOf(component, ICAL_LASTMODIFIED_PROPERTY))
        event.lastModifiedDate = instantOf(icalproperty_get_lastmodified(modified), "UTC", client);

    event.notes = ownedCopy(icalcomponent_get_description(component));
    if (icalproperty* url = firstOf(component, ICAL_URL_PROPERTY))
        event.url = nonEmpty(ownedCopy(icalproperty_get_url(url)));
    event.location = ownedCopy(icalcomponent_get_location(component));

    for (icalproperty* attendee = firstOf(component, ICAL_ATTENDEE_PROPERTY); attendee;
         attendee = icalcomponent_get_next_property(component, ICAL_ATTENDEE_PROPERTY)) {
        if (!event.attendees) event.attendees.emplace();
        icalparameter* name = icalproperty_get_first_parameter(attendee, ICAL_CN_PARAMETER);
        const char* cn = name ? icalparameter_get_cn(name) : nullptr;
        const char* address = icalproperty_get_attendee(attendee);
        event.attendees->push_back({cn ? cn : "", address ? address : ""});
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
