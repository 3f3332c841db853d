#include "calendar_values.h"
#include "commands.h"
#include "reminders.h"

namespace lumory::cal {

using nlohmann::json;

json encode(const Reminder& reminder) {
    const auto& list = reminder.list;
    json object = {
        {"id", reminder.identifier},
        {"title", reminder.title.value_or("")},
        {"listId", list ? list->identifier : ""},
        {"list", list ? list->title : ""},
        {"isCompleted", reminder.isCompleted},
        {"priority", reminder.priority},
        {"hasDueTime", reminder.dueDateComponents && reminder.dueDateComponents->hour.has_value()},
        {"writable", list && list->allowsContentModifications},
    };
    if (reminder.dueDateComponents) {
        if (auto due = instantOf(*reminder.dueDateComponents)) object["dueDate"] = formatDate(*due);
    }
    if (reminder.notes) object["notes"] = *reminder.notes;
    if (list) {
        if (auto color = hexColor(list->colorComponents)) object["color"] = *color;
    }
    return object;
}

bool reminderMatches(const ReminderQuery& query, const Reminder& reminder) {
    if (query.listIds) {
        if (!reminder.list) return false;
        const auto& ids = *query.listIds;
        if (std::find(ids.begin(), ids.end(), reminder.list->identifier) == ids.end()) return false;
    }
    std::optional<Instant> when;
    if (query.completed) {
        if (!reminder.isCompleted) return false;
        when = reminder.completionDate;
    } else {
        if (reminder.isCompleted || !reminder.dueDateComponents) return false;
        when = instantOf(*reminder.dueDateComponents);
    }
    if (!when) return false;
    return (!query.start || *when >= *query.start) && *when < query.end;
}

std::optional<Calendar> reminderListWithId(EventStore& store, const std::string& identifier) {
    for (auto& list : store.calendars(EntityType::reminder))
        if (list.identifier == identifier) return list;
    return std::nullopt;
}

void listReminderLists(CommandContext& context, const RequestId& id, const json&) {
    if (!requireReminderAccess(context, id)) return;
    auto lists = context.store.calendars(EntityType::reminder);
    sortCalendars(lists);
    json encoded = json::array();
    for (const auto& list : lists) encoded.push_back(encode(list));
    context.reply(id, {{"lists", std::move(encoded)}});
}

}  // namespace lumory::cal
