#include <algorithm>
#include <cstring>
#include <functional>

#include "calendar_values.h"
#include "eds_components.h"
#include "eds_event_store.h"
#include "eds_sources.h"
#include "eds_time.h"

namespace lumory::cal {
namespace eds {
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

// The zone a stored time is written in: its TZID's, UTC, or none (dates and floating times).
ICalTimezone* zoneOf(ECalComponentDateTime* time, ECalClient* client) {
    if (!time) return nullptr;
    ICalTime* value = e_cal_component_datetime_get_value(time);
    if (!value || i_cal_time_is_date(value)) return nullptr;
    if (i_cal_time_is_utc(value)) return i_cal_timezone_get_utc_timezone();
    if (ICalTimezone* attached = i_cal_time_get_timezone(value)) return attached;
    const char* tzid = e_cal_component_datetime_get_tzid(time);
    if (!tzid || !*tzid) return nullptr;
    ICalTimezone* zone =
        client ? e_cal_client_tzlookup_cb(tzid, client, nullptr, nullptr) : nullptr;
    if (!zone) zone = i_cal_timezone_get_builtin_timezone_from_tzid(tzid);
    if (!zone) zone = i_cal_timezone_get_builtin_timezone(tzid);
    return zone;
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

std::optional<Instant> recurrenceInstant(ECalComponent* component, ECalClient* client) {
    OwnedRange range(e_cal_component_get_recurid(component));
    if (!range) return std::nullopt;
    return instantOf(e_cal_component_range_get_datetime(range.get()), client);
}

Event eventFrom(ECalComponent* component, const Calendar& calendar, ECalClient* client) {
    ICalComponent* ical = e_cal_component_get_icalcomponent(component);
    Event event;
    if (const char* uid = e_cal_component_get_uid(component)) event.identifier = uid;
    if (OwnedText summary{e_cal_component_get_summary(component)}) {
        const char* value = e_cal_component_text_get_value(summary.get());
        event.title = value ? value : "";
    }
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

namespace {

GObjectPtr<ECalComponent> masterOf(const std::vector<GObjectPtr<ECalComponent>>& components) {
    for (auto& component : components)
        if (!e_cal_component_is_instance(component.get())) return component;
    return {};
}

[[noreturn]] void raise(GError* error, const char* fallback) {
    throw StoreError(error && error->message ? error->message : fallback);
}

// The calendar written to holds the zones the component's times name, so that every reader
// can resolve them. `from` resolves them where the component was read.
void addZonesTo(ECalClient* client, ECalComponent* component, ECalClient* from) {
    OwnedDateTime start(e_cal_component_get_dtstart(component));
    OwnedDateTime end(e_cal_component_get_dtend(component));
    for (ECalComponentDateTime* time : {start.get(), end.get()}) {
        ICalTimezone* zone = zoneOf(time, from);
        if (zone && zone != i_cal_timezone_get_utc_timezone())
            e_cal_client_add_timezone_sync(client, zone, nullptr, nullptr);
    }
}

void createIn(ECalClient* client, ECalComponent* component, ECalClient* from) {
    addZonesTo(client, component, from);
    g_autoptr(GError) error = nullptr;
    g_autofree gchar* uid = nullptr;
    if (!e_cal_client_create_object_sync(client, e_cal_component_get_icalcomponent(component),
                                         E_CAL_OPERATION_FLAG_NONE, &uid, nullptr, &error))
        raise(error, "the event could not be saved");
}

void removeFrom(ECalClient* client, const std::string& uid, const char* rid, ECalObjModType mod) {
    g_autoptr(GError) error = nullptr;
    if (!e_cal_client_remove_object_sync(client, uid.c_str(), rid, mod, E_CAL_OPERATION_FLAG_NONE,
                                         nullptr, &error))
        raise(error, "the event could not be removed");
}

// Creates the copy in the target calendar, then runs `removeOriginal`. When that fails the copy
// goes again, so the user never has the event twice, and the removal's error is raised.
void moveAtomically(ECalClient* target, ECalComponent* copy, ECalClient* from,
                    const std::string& copyUid, const std::function<void()>& removeOriginal) {
    createIn(target, copy, from);
    try {
        removeOriginal();
    } catch (const StoreError&) {
        e_cal_client_remove_object_sync(target, copyUid.c_str(), nullptr, E_CAL_OBJ_MOD_ALL,
                                        E_CAL_OPERATION_FLAG_NONE, nullptr, nullptr);
        throw;
    }
}

// The backend writes the exception of a removed occurrence without its zone, which moves it
// for every reader in another zone; written here it keeps the series' zone.
void excludeOccurrence(ECalClient* client, ECalComponent* master, const SeriesTime& series,
                       Instant occurrence) {
    auto updated = GObjectPtr<ECalComponent>::adopt(e_cal_component_clone(master));
    GSList* exdates = e_cal_component_get_exdates(updated.get());
    auto time = GObjectPtr<ICalTime>::adopt(timeInZone(occurrence, series.zone, series.isDate));
    exdates = g_slist_append(
        exdates,
        e_cal_component_datetime_new(
            time.get(), series.tzid.empty() || series.isDate ? nullptr : series.tzid.c_str()));
    e_cal_component_set_exdates(updated.get(), exdates);
    g_slist_free_full(exdates, e_cal_component_datetime_free);
    g_autoptr(GError) error = nullptr;
    if (!e_cal_client_modify_object_sync(client, e_cal_component_get_icalcomponent(updated.get()),
                                         E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                         &error))
        raise(error, "the event could not be removed");
}

// A new component standing for one occurrence: the master's content without its rules.
GObjectPtr<ECalComponent> detachedCopy(ECalComponent* master) {
    auto copy = GObjectPtr<ECalComponent>::adopt(e_cal_component_clone(master));
    ICalComponent* ical = e_cal_component_get_icalcomponent(copy.get());
    for (auto kind :
         {I_CAL_RRULE_PROPERTY, I_CAL_RDATE_PROPERTY, I_CAL_EXRULE_PROPERTY, I_CAL_EXDATE_PROPERTY})
        e_cal_util_component_remove_property_by_kind(ical, kind, TRUE);
    return copy;
}

}  // namespace
}  // namespace eds

EventListing EdsEventStore::eventListing(
    Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    auto registry = sourceRegistry();
    EventListing listing;
    for (auto& open : eds::openSources(registry.get(), EntityType::event, clients, calendarIds)) {
        if (!open.client) continue;
        eds::collectOccurrences(open.client.get(), open.calendar, start, end, listing);
    }
    return listing;
}

std::vector<Event> EdsEventStore::events(
    Instant start, Instant end, const std::optional<std::vector<std::string>>& calendarIds) {
    const EventListing listing = eventListing(start, end, calendarIds);
    std::vector<Event> result;
    result.reserve(listing.occurrences.size());
    for (const auto& occurrence : listing.occurrences) result.push_back(listing.event(occurrence));
    return result;
}

std::optional<Event> EdsEventStore::event(const std::string& identifier) {
    auto registry = sourceRegistry();
    for (auto& open : eds::openSources(registry.get(), EntityType::event, clients)) {
        if (!open.client) continue;
        auto components = eds::componentsForUid(open.client.get(), identifier);
        if (components.empty()) continue;
        auto master = eds::masterOf(components);
        if (!master)
            return eds::eventFrom(components.front().get(), open.calendar, open.client.get());
        Event first = eds::eventFrom(master.get(), open.calendar, open.client.get());
        if (!first.hasRecurrenceRules) return first;
        // A series stands for its first occurrence, which may have been changed on its own.
        for (auto& component : components) {
            auto rid = eds::recurrenceInstant(component.get(), open.client.get());
            if (rid && rid == first.startDate)
                return eds::eventFrom(component.get(), open.calendar, open.client.get());
        }
        first.recurrenceDate = first.startDate;
        return first;
    }
    return std::nullopt;
}

void EdsEventStore::saveEvent(Event& event) {
    auto registry = sourceRegistry();
    if (!event.calendar) throw StoreError("no calendar to write to");
    if (event.isAllDay && event.startDate) {
        // Whole local days, as they are stored and read back.
        Instant end = eds::allDayEnd(*event.startDate, event.endDate.value_or(*event.startDate));
        DueDate day = localComponents(*event.startDate, false);
        event.startDate = localMidnight(day.year, day.month, day.day);
        event.endDate = end;
    }
    // The reply shows the same modification time as the stored event.
    event.lastModifiedDate =
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    auto target =
        eds::openSource(registry.get(), EntityType::event, event.calendar->identifier, clients);
    if (!target || !target->client)
        throw StoreError("unknown calendar: " + event.calendar->identifier);
    ECalClient* targetClient = target->client.get();

    if (event.identifier.empty() || event.storedCalendarId.empty()) {
        auto component = GObjectPtr<ECalComponent>::adopt(e_cal_component_new());
        e_cal_component_set_new_vtype(component.get(), E_CAL_COMPONENT_EVENT);
        g_autofree gchar* uid = e_util_generate_uid();
        e_cal_component_set_uid(component.get(), uid);
        eds::fillComponent(component.get(), event, targetClient);
        eds::createIn(targetClient, component.get(), targetClient);
        event.identifier = uid;
    } else {
        auto stored =
            eds::openSource(registry.get(), EntityType::event, event.storedCalendarId, clients);
        if (!stored || !stored->client) throw StoreError("event not found: " + event.identifier);
        ECalClient* storedClient = stored->client.get();
        auto components = eds::componentsForUid(storedClient, event.identifier);
        auto master = eds::masterOf(components);
        bool moving = stored->calendar.identifier != target->calendar.identifier;

        if (event.recurrenceDate) {
            if (!master && components.empty())
                throw StoreError("event not found: " + event.identifier);
            GObjectPtr<ECalComponent> base;
            for (auto& component : components) {
                auto rid = eds::recurrenceInstant(component.get(), storedClient);
                if (rid && rid == event.recurrenceDate) base = component;
            }
            // Only detached occurrences stored, none of them this one: changed meanwhile.
            if (!base && !master) throw StoreError("event not found: " + event.identifier);
            auto series =
                eds::seriesTimeOf(master ? master.get() : components.front().get(), storedClient);
            std::string rid = eds::recurrenceIdText(series, *event.recurrenceDate);
            if (moving) {
                // One occurrence cannot live in another calendar than its series: it leaves the
                // series there and becomes an event of its own here.
                auto copy = eds::detachedCopy(base ? base.get() : master.get());
                e_cal_component_set_recurid(copy.get(), nullptr);
                g_autofree gchar* uid = e_util_generate_uid();
                e_cal_component_set_uid(copy.get(), uid);
                eds::fillComponent(copy.get(), event, storedClient);
                eds::moveAtomically(targetClient, copy.get(), storedClient, uid, [&] {
                    if (base)
                        eds::removeFrom(storedClient, event.identifier, rid.c_str(),
                                        E_CAL_OBJ_MOD_ONLY_THIS);
                    if (master)
                        eds::excludeOccurrence(storedClient, master.get(), series,
                                               *event.recurrenceDate);
                });
                event.identifier = uid;
                event.recurrenceDate.reset();
                event.hasRecurrenceRules = false;
            } else {
                auto component =
                    base ? GObjectPtr<ECalComponent>::adopt(e_cal_component_clone(base.get()))
                         : eds::detachedCopy(master.get());
                if (!base) {
                    auto time = GObjectPtr<ICalTime>::adopt(
                        eds::timeInZone(*event.recurrenceDate, series.zone, series.isDate));
                    eds::OwnedDateTime value(e_cal_component_datetime_new(
                        time.get(), series.tzid.empty() ? nullptr : series.tzid.c_str()));
                    eds::OwnedRange range(
                        e_cal_component_range_new(E_CAL_COMPONENT_RANGE_SINGLE, value.get()));
                    e_cal_component_set_recurid(component.get(), range.get());
                }
                eds::fillComponent(component.get(), event, storedClient);
                eds::addZonesTo(storedClient, component.get(), storedClient);
                g_autoptr(GError) error = nullptr;
                if (!e_cal_client_modify_object_sync(
                        storedClient, e_cal_component_get_icalcomponent(component.get()),
                        E_CAL_OBJ_MOD_THIS, E_CAL_OPERATION_FLAG_NONE, nullptr, &error))
                    eds::raise(error, "the event could not be saved");
            }
        } else {
            if (!master) throw StoreError("event not found: " + event.identifier);
            auto component =
                GObjectPtr<ECalComponent>::adopt(e_cal_component_clone(master.get()));
            eds::fillComponent(component.get(), event, storedClient);
            if (moving) {
                eds::moveAtomically(
                    targetClient, component.get(), storedClient, event.identifier, [&] {
                        eds::removeFrom(storedClient, event.identifier, nullptr, E_CAL_OBJ_MOD_ALL);
                    });
            } else {
                eds::addZonesTo(storedClient, component.get(), storedClient);
                g_autoptr(GError) error = nullptr;
                if (!e_cal_client_modify_object_sync(
                        storedClient, e_cal_component_get_icalcomponent(component.get()),
                        E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr, &error))
                    eds::raise(error, "the event could not be saved");
            }
        }
    }
    event.storedCalendarId = target->calendar.identifier;
    event.calendar = target->calendar;
}

void EdsEventStore::removeEvent(const Event& event) {
    auto registry = sourceRegistry();
    const std::string& calendarId = event.storedCalendarId.empty() && event.calendar
                                        ? event.calendar->identifier
                                        : event.storedCalendarId;
    auto stored = eds::openSource(registry.get(), EntityType::event, calendarId, clients);
    if (!stored || !stored->client) throw StoreError("event not found: " + event.identifier);
    ECalClient* client = stored->client.get();
    if (!event.recurrenceDate)
        return eds::removeFrom(client, event.identifier, nullptr, E_CAL_OBJ_MOD_ALL);
    auto components = eds::componentsForUid(client, event.identifier);
    if (components.empty()) throw StoreError("event not found: " + event.identifier);
    auto master = eds::masterOf(components);
    auto series = eds::seriesTimeOf(master ? master.get() : components.front().get(), client);
    std::string rid = eds::recurrenceIdText(series, *event.recurrenceDate);
    bool detached = false;
    for (auto& component : components) {
        auto instant = eds::recurrenceInstant(component.get(), client);
        detached = detached || (instant && *instant == *event.recurrenceDate);
    }
    if (detached) eds::removeFrom(client, event.identifier, rid.c_str(), E_CAL_OBJ_MOD_ONLY_THIS);
    if (master) eds::excludeOccurrence(client, master.get(), series, *event.recurrenceDate);
}

}  // namespace lumory::cal
