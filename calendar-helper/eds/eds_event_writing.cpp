#include "eds_event_writing.h"

#include <functional>

#include "calendar_values.h"
#include "eds_components.h"
#include "eds_sources.h"
#include "eds_store_error.h"
#include "eds_time.h"

namespace lumory::cal::eds {
namespace {

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

void createEvent(ECalClient* client, Event& event) {
    auto component = GObjectPtr<ECalComponent>::adopt(e_cal_component_new());
    e_cal_component_set_new_vtype(component.get(), E_CAL_COMPONENT_EVENT);
    g_autofree gchar* uid = e_util_generate_uid();
    e_cal_component_set_uid(component.get(), uid);
    fillComponent(component.get(), event, client);
    createIn(client, component.get(), client);
    event.identifier = uid;
}

// One occurrence of a series stored in `stored`; `target` is another calendar to move it to, or
// null.
void saveOccurrence(ECalClient* stored, ECalClient* target, Event& event) {
    auto components = componentsForUid(stored, event.identifier);
    auto master = masterOf(components);
    if (!master && components.empty()) throw StoreError("event not found: " + event.identifier);
    GObjectPtr<ECalComponent> base;
    for (auto& component : components) {
        auto rid = recurrenceInstant(component.get(), stored);
        if (rid && rid == event.recurrenceDate) base = component;
    }
    // Only detached occurrences stored, none of them this one: changed meanwhile.
    if (!base && !master) throw StoreError("event not found: " + event.identifier);
    auto series = seriesTimeOf(master ? master.get() : components.front().get(), stored);
    std::string rid = recurrenceIdText(series, *event.recurrenceDate);
    if (target) {
        // One occurrence cannot live in another calendar than its series: it leaves the
        // series there and becomes an event of its own here.
        auto copy = detachedCopy(base ? base.get() : master.get());
        e_cal_component_set_recurid(copy.get(), nullptr);
        g_autofree gchar* uid = e_util_generate_uid();
        e_cal_component_set_uid(copy.get(), uid);
        fillComponent(copy.get(), event, stored);
        moveAtomically(target, copy.get(), stored, uid, [&] {
            if (base) removeFrom(stored, event.identifier, rid.c_str(), E_CAL_OBJ_MOD_ONLY_THIS);
            if (master) excludeOccurrence(stored, master.get(), series, *event.recurrenceDate);
        });
        event.identifier = uid;
        event.recurrenceDate.reset();
        event.hasRecurrenceRules = false;
        return;
    }
    auto component = base ? GObjectPtr<ECalComponent>::adopt(e_cal_component_clone(base.get()))
                          : detachedCopy(master.get());
    if (!base) {
        auto time = GObjectPtr<ICalTime>::adopt(
            timeInZone(*event.recurrenceDate, series.zone, series.isDate));
        OwnedDateTime value(e_cal_component_datetime_new(
            time.get(), series.tzid.empty() ? nullptr : series.tzid.c_str()));
        OwnedRange range(e_cal_component_range_new(E_CAL_COMPONENT_RANGE_SINGLE, value.get()));
        e_cal_component_set_recurid(component.get(), range.get());
    }
    fillComponent(component.get(), event, stored);
    addZonesTo(stored, component.get(), stored);
    g_autoptr(GError) error = nullptr;
    if (!e_cal_client_modify_object_sync(stored, e_cal_component_get_icalcomponent(component.get()),
                                         E_CAL_OBJ_MOD_THIS, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                         &error))
        raise(error, "the event could not be saved");
}

// An event that does not repeat, or a whole series, stored in `stored`; `target` is another
// calendar to move it to, or null.
void saveWholeEvent(ECalClient* stored, ECalClient* target, Event& event) {
    auto master = masterOf(componentsForUid(stored, event.identifier));
    if (!master) throw StoreError("event not found: " + event.identifier);
    auto component = GObjectPtr<ECalComponent>::adopt(e_cal_component_clone(master.get()));
    fillComponent(component.get(), event, stored);
    if (target) {
        moveAtomically(target, component.get(), stored, event.identifier,
                       [&] { removeFrom(stored, event.identifier, nullptr, E_CAL_OBJ_MOD_ALL); });
        return;
    }
    addZonesTo(stored, component.get(), stored);
    g_autoptr(GError) error = nullptr;
    if (!e_cal_client_modify_object_sync(stored, e_cal_component_get_icalcomponent(component.get()),
                                         E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                         &error))
        raise(error, "the event could not be saved");
}

// The backend stamps LAST-MODIFIED with its own clock as it stores a component, and a second
// may have turned since the helper's stamp: the reply takes the stamp that was stored.
void readStoredModification(ECalClient* client, Event& event) {
    for (auto& component : componentsForUid(client, event.identifier)) {
        if (recurrenceInstant(component.get(), client) != event.recurrenceDate) continue;
        auto modified =
            GObjectPtr<ICalTime>::adopt(e_cal_component_get_last_modified(component.get()));
        if (modified) event.lastModifiedDate = instantOf(modified.get(), "UTC", client);
        return;
    }
}

}  // namespace

void saveEvent(ESourceRegistry* registry, ClientCache& clients, Event& event) {
    if (!event.calendar) throw StoreError("no calendar to write to");
    if (event.isAllDay && event.startDate) {
        // Whole local days, as they are stored and read back.
        Instant end = allDayEnd(*event.startDate, event.endDate.value_or(*event.startDate));
        DueDate day = localComponents(*event.startDate, false);
        event.startDate = localMidnight(day.year, day.month, day.day);
        event.endDate = end;
    }
    // What the component is written with; the backend may stamp its own, read back below.
    event.lastModifiedDate =
        std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    auto target = openSource(registry, EntityType::event, event.calendar->identifier, clients);
    if (!target || !target->client)
        throw StoreError("unknown calendar: " + event.calendar->identifier);

    if (event.identifier.empty() || event.storedCalendarId.empty()) {
        createEvent(target->client.get(), event);
    } else {
        auto stored = openSource(registry, EntityType::event, event.storedCalendarId, clients);
        if (!stored || !stored->client) throw StoreError("event not found: " + event.identifier);
        ECalClient* moveTo = stored->calendar.identifier != target->calendar.identifier
                                 ? target->client.get()
                                 : nullptr;
        if (event.recurrenceDate)
            saveOccurrence(stored->client.get(), moveTo, event);
        else
            saveWholeEvent(stored->client.get(), moveTo, event);
    }
    readStoredModification(target->client.get(), event);
    event.storedCalendarId = target->calendar.identifier;
    event.calendar = target->calendar;
}

void removeEvent(ESourceRegistry* registry, ClientCache& clients, const Event& event) {
    const std::string& calendarId = event.storedCalendarId.empty() && event.calendar
                                        ? event.calendar->identifier
                                        : event.storedCalendarId;
    auto stored = openSource(registry, EntityType::event, calendarId, clients);
    if (!stored || !stored->client) throw StoreError("event not found: " + event.identifier);
    ECalClient* client = stored->client.get();
    if (!event.recurrenceDate)
        return removeFrom(client, event.identifier, nullptr, E_CAL_OBJ_MOD_ALL);
    auto components = componentsForUid(client, event.identifier);
    if (components.empty()) throw StoreError("event not found: " + event.identifier);
    auto master = masterOf(components);
    auto series = seriesTimeOf(master ? master.get() : components.front().get(), client);
    std::string rid = recurrenceIdText(series, *event.recurrenceDate);
    bool detached = false;
    for (auto& component : components) {
        auto instant = recurrenceInstant(component.get(), client);
        detached = detached || (instant && *instant == *event.recurrenceDate);
    }
    if (detached) removeFrom(client, event.identifier, rid.c_str(), E_CAL_OBJ_MOD_ONLY_THIS);
    if (master) excludeOccurrence(client, master.get(), series, *event.recurrenceDate);
}

}  // namespace lumory::cal::eds
