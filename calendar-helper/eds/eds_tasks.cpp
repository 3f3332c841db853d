#include "eds_tasks.h"

#include <algorithm>

#include "calendar_values.h"
#include "eds_components.h"
#include "eds_sources.h"
#include "eds_store_error.h"
#include "eds_time.h"
#include "reminders.h"

namespace lumory::cal::eds {
namespace {

using namespace std::chrono;

std::string makeTime(Instant instant) {
    return "(make-time \"" + utcText(instant) + "\")";
}

// What the backend pre-selects; reminderMatches() then applies the exact bounds.
std::string taskQuery(const ReminderQuery& query) {
    if (query.completed)
        return "(and (is-completed?) (not (completed-before? " +
               makeTime(*query.start - kZoneMargin) + ")) (completed-before? " +
               makeTime(query.end + kZoneMargin) + "))";
    if (!query.start) return "(not (is-completed?))";
    return "(and (not (is-completed?)) (due-in-time-range? " +
           makeTime(*query.start - kZoneMargin) + " " + makeTime(query.end + kZoneMargin) + "))";
}

Reminder reminderFrom(ECalComponent* component, const Calendar& list, ECalClient* client) {
    Reminder reminder;
    if (const char* uid = e_cal_component_get_uid(component)) reminder.identifier = uid;
    reminder.title = summaryOf(component);
    reminder.list = list;
    reminder.storedListId = list.identifier;
    if (auto completed = GObjectPtr<ICalTime>::adopt(e_cal_component_get_completed(component)))
        reminder.completionDate = instantOf(completed.get(), "UTC", client);
    reminder.isCompleted = reminder.completionDate.has_value() ||
                           e_cal_component_get_status(component) == I_CAL_STATUS_COMPLETED;
    reminder.priority = std::max(0, e_cal_component_get_priority(component));

    if (OwnedDateTime due{e_cal_component_get_due(component)}) {
        ICalTime* value = e_cal_component_datetime_get_value(due.get());
        if (value && i_cal_time_is_date(value)) {
            reminder.dueDateComponents = DueDate{i_cal_time_get_year(value),
                                                 i_cal_time_get_month(value),
                                                 i_cal_time_get_day(value),
                                                 {},
                                                 {}};
        } else if (auto instant = instantOf(due.get(), client)) {
            DueDate fields = localComponents(*instant, true);
            fields.second =
                int(duration_cast<seconds>(*instant - floor<minutes>(*instant)).count());
            reminder.dueDateComponents = fields;
        }
    }

    OwnedList<e_cal_component_text_free> descriptions{e_cal_component_get_descriptions(component)};
    if (descriptions.list) {
        const char* value = e_cal_component_text_get_value(
            static_cast<ECalComponentText*>(descriptions.list->data));
        reminder.notes = value ? value : "";
    }
    return reminder;
}

void fillTask(ECalComponent* component, const Reminder& reminder) {
    if (reminder.title) {
        OwnedText text(e_cal_component_text_new(reminder.title->c_str(), nullptr));
        e_cal_component_set_summary(component, text.get());
    } else {
        e_cal_component_set_summary(component, nullptr);
    }
    if (reminder.notes) {
        OwnedText text(e_cal_component_text_new(reminder.notes->c_str(), nullptr));
        GSList single{text.get(), nullptr};
        e_cal_component_set_descriptions(component, &single);
    } else {
        e_cal_component_set_descriptions(component, nullptr);
    }
    if (reminder.dueDateComponents) {
        const DueDate& due = *reminder.dueDateComponents;
        GObjectPtr<ICalTime> time;
        if (!due.hour) {
            time = GObjectPtr<ICalTime>::adopt(i_cal_time_new_null_time());
            i_cal_time_set_date(time.get(), due.year, due.month, due.day);
            i_cal_time_set_is_date(time.get(), TRUE);
        } else if (auto instant = instantOf(due)) {
            time = GObjectPtr<ICalTime>::adopt(utcTime(*instant));
        }
        if (time) {
            OwnedDateTime value(
                e_cal_component_datetime_new(time.get(), due.hour ? "UTC" : nullptr));
            e_cal_component_set_due(component, value.get());
        }
    }
    if (reminder.isCompleted) {
        auto completed = GObjectPtr<ICalTime>::adopt(
            utcTime(reminder.completionDate.value_or(system_clock::now())));
        e_cal_component_set_completed(component, completed.get());
        e_cal_component_set_status(component, I_CAL_STATUS_COMPLETED);
        e_cal_component_set_percent_complete(component, 100);
    } else {
        e_cal_component_set_completed(component, nullptr);
        if (e_cal_component_get_status(component) == I_CAL_STATUS_COMPLETED)
            e_cal_component_set_status(component, I_CAL_STATUS_NONE);
        e_cal_component_set_percent_complete(component, -1);
    }
    auto now = GObjectPtr<ICalTime>::adopt(utcTime(system_clock::now()));
    e_cal_component_set_last_modified(component, now.get());
}

GObjectPtr<ECalComponent> storedTask(ECalClient* client, const std::string& uid) {
    ICalComponent* ical = nullptr;
    if (!e_cal_client_get_object_sync(client, uid.c_str(), nullptr, &ical, nullptr, nullptr) ||
        !ical)
        return {};
    if (i_cal_component_isa(ical) != I_CAL_VTODO_COMPONENT) {
        g_object_unref(ical);
        return {};
    }
    return GObjectPtr<ECalComponent>::adopt(e_cal_component_new_from_icalcomponent(ical));
}

}  // namespace

std::optional<std::vector<Reminder>> fetchReminders(ESourceRegistry* registry, ClientCache& clients,
                                                    const ReminderQuery& query) {
    if (!registry) return std::nullopt;
    std::vector<Reminder> found;
    std::string sexp = taskQuery(query);
    for (auto& open : openSources(registry, EntityType::reminder, clients, query.listIds)) {
        if (!open.client) continue;
        GSList* components = nullptr;
        if (!e_cal_client_get_object_list_as_comps_sync(open.client.get(), sexp.c_str(),
                                                        &components, nullptr, nullptr))
            continue;
        for (GSList* item = components; item; item = item->next) {
            Reminder reminder =
                reminderFrom(E_CAL_COMPONENT(item->data), open.calendar, open.client.get());
            if (reminderMatches(query, reminder)) found.push_back(std::move(reminder));
        }
        g_slist_free_full(components, g_object_unref);
    }
    return found;
}

std::optional<Reminder> storedReminder(ESourceRegistry* registry, ClientCache& clients,
                                       const std::string& identifier) {
    for (auto& open : openSources(registry, EntityType::reminder, clients)) {
        if (!open.client) continue;
        if (auto task = storedTask(open.client.get(), identifier))
            return reminderFrom(task.get(), open.calendar, open.client.get());
    }
    return std::nullopt;
}

void saveReminder(ESourceRegistry* registry, ClientCache& clients, Reminder& reminder) {
    if (!reminder.list) throw StoreError("no reminders list to write to");
    auto target = openSource(registry, EntityType::reminder, reminder.list->identifier, clients);
    if (!target || !target->client) throw StoreError("unknown list: " + reminder.list->identifier);
    ECalClient* targetClient = target->client.get();
    g_autoptr(GError) error = nullptr;

    GObjectPtr<ECalComponent> component;
    std::optional<OpenSource> stored;
    if (!reminder.identifier.empty() && !reminder.storedListId.empty()) {
        stored = openSource(registry, EntityType::reminder, reminder.storedListId, clients);
        if (stored && stored->client)
            component = storedTask(stored->client.get(), reminder.identifier);
        if (!component) throw StoreError("reminder not found: " + reminder.identifier);
    }
    bool created = !component;
    if (created) {
        component = GObjectPtr<ECalComponent>::adopt(e_cal_component_new());
        e_cal_component_set_new_vtype(component.get(), E_CAL_COMPONENT_TODO);
        g_autofree gchar* uid = e_util_generate_uid();
        e_cal_component_set_uid(component.get(), uid);
        reminder.identifier = uid;
    }
    if (reminder.isCompleted && !reminder.completionDate)
        reminder.completionDate = floor<std::chrono::seconds>(std::chrono::system_clock::now());
    fillTask(component.get(), reminder);
    ICalComponent* ical = e_cal_component_get_icalcomponent(component.get());
    bool moving = !created && stored->calendar.identifier != target->calendar.identifier;
    if (created || moving) {
        g_autofree gchar* uid = nullptr;
        if (!e_cal_client_create_object_sync(targetClient, ical, E_CAL_OPERATION_FLAG_NONE, &uid,
                                             nullptr, &error))
            raise(error, "the reminder could not be saved");
        if (moving && !e_cal_client_remove_object_sync(
                          stored->client.get(), reminder.identifier.c_str(), nullptr,
                          E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr, &error)) {
            // The copy goes again, so that the reminder is not there twice.
            e_cal_client_remove_object_sync(targetClient, reminder.identifier.c_str(), nullptr,
                                            E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                            nullptr);
            raise(error, "the reminder could not be moved");
        }
    } else if (!e_cal_client_modify_object_sync(targetClient, ical, E_CAL_OBJ_MOD_ALL,
                                                E_CAL_OPERATION_FLAG_NONE, nullptr, &error)) {
        raise(error, "the reminder could not be saved");
    }
    reminder.list = target->calendar;
    reminder.storedListId = target->calendar.identifier;
}

void removeReminder(ESourceRegistry* registry, ClientCache& clients, const Reminder& reminder) {
    auto stored = openSource(registry, EntityType::reminder, reminder.storedListId, clients);
    if (!stored || !stored->client) throw StoreError("reminder not found: " + reminder.identifier);
    g_autoptr(GError) error = nullptr;
    if (!e_cal_client_remove_object_sync(stored->client.get(), reminder.identifier.c_str(), nullptr,
                                         E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE, nullptr,
                                         &error))
        raise(error, "the reminder could not be removed");
}

}  // namespace lumory::cal::eds
