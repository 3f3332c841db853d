#include "reminder_editing.h"

#include "calendar_values.h"
#include "commands.h"
#include "reminders.h"

namespace lumory::cal {

using nlohmann::json;

namespace {
const char* const kNeedsReminderId = "needs `reminderId`";
const char* const kReminderNotFound = "reminder not found: ";
const char* const kListReadOnly = "list is read-only: ";
const char* const kUnknownList = "unknown list: ";
const char* const kNoList = "no reminders list to write to";

// The reminder a request names, writable; otherwise replies and gives nothing.
std::optional<Reminder> reminder(CommandContext& context, const RequestId& id,
                                 const json& request) {
    const std::string* identifier = stringField(request, "reminderId");
    if (!identifier) {
        context.fail(id, kNeedsReminderId);
        return std::nullopt;
    }
    auto found = context.store.reminder(*identifier);
    if (!found) {
        context.fail(id, kReminderNotFound + *identifier);
        return std::nullopt;
    }
    if (found->list && !found->list->allowsContentModifications) {
        context.fail(id, kListReadOnly + found->list->title);
        return std::nullopt;
    }
    return found;
}

void save(CommandContext& context, const RequestId& id, Reminder& reminder) {
    // The store keeps writes to some read-only lists and loses them later: refuse them here.
    if (reminder.list && !reminder.list->allowsContentModifications)
        return context.fail(id, kListReadOnly + reminder.list->title);
    try {
        context.store.saveReminder(reminder);
    } catch (const std::exception& error) {
        return context.fail(id, error.what());
    }
    context.reply(id, {{"reminder", encode(reminder)}});
}

void applyAndSave(CommandContext& context, const RequestId& id, const json& request,
                  Reminder& reminder) {
    try {
        applyReminder(request, reminder, context.store);
    } catch (const Failure& failure) {
        return context.fail(id, failure.errorDescription());
    }
    save(context, id, reminder);
}
}  // namespace

void setCompleted(Reminder& reminder, bool completed) {
    if (completed && !reminder.isCompleted)
        reminder.completionDate =
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    if (!completed) reminder.completionDate.reset();
    reminder.isCompleted = completed;
}

void applyReminder(const json& request, Reminder& reminder, EventStore& store) {
    if (auto title = stringField(request, "title")) reminder.title = *title;
    if (const json* notes = field(request, "notes")) {
        if (notes->is_string() && !notes->get_ref<const std::string&>().empty())
            reminder.notes = notes->get<std::string>();
        else
            reminder.notes.reset();
    }
    if (auto listId = stringField(request, "listId")) {
        auto list = reminderListWithId(store, *listId);
        if (!list) throw Failure{kUnknownList + *listId};
        if (!list->allowsContentModifications) throw Failure{kListReadOnly + list->title};
        reminder.list = std::move(list);
    }
    if (auto due = parseDate(field(request, "dueDate"))) {
        const json* hasDueTime = field(request, "hasDueTime");
        bool dateOnly = hasDueTime && hasDueTime->is_boolean() && !hasDueTime->get<bool>();
        reminder.dueDateComponents = localComponents(*due, !dateOnly);
    }
    if (const json* completed = field(request, "completed"); completed && completed->is_boolean())
        setCompleted(reminder, completed->get<bool>());
}

void createReminder(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireReminderAccess(context, id)) return;
    Reminder created;
    if (auto listId = stringField(request, "listId"))
        created.list = reminderListWithId(context.store, *listId);
    if (!created.list) created.list = context.store.defaultCalendar(EntityType::reminder);
    if (!created.list) return context.fail(id, kNoList);
    applyAndSave(context, id, request, created);
}

void updateReminder(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireReminderAccess(context, id)) return;
    auto found = reminder(context, id, request);
    if (!found) return;
    applyAndSave(context, id, request, *found);
}

void deleteReminder(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireReminderAccess(context, id)) return;
    auto found = reminder(context, id, request);
    if (!found) return;
    try {
        context.store.removeReminder(*found);
    } catch (const std::exception& error) {
        return context.fail(id, error.what());
    }
    context.reply(id, {{"ok", true}});
}

void setReminderCompleted(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireReminderAccess(context, id)) return;
    auto found = reminder(context, id, request);
    if (!found) return;
    const json* completed = field(request, "completed");
    setCompleted(*found, completed && completed->is_boolean() ? completed->get<bool>() : true);
    save(context, id, *found);
}

}  // namespace lumory::cal
