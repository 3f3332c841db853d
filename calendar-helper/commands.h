#pragma once

// Every command of the helper, in one common shape. A handler replies exactly once per request,
// before it returns or later from the store's completion, and writes nothing else.

#include <string>

#include <nlohmann/json.hpp>

#include "command_context.h"
#include "event_store.h"
#include "failure.h"
#include "helper_output.h"

namespace lumory::cal {

// The one signature of a command handler: the request's id and the whole request object.
using CommandHandler = void(CommandContext& context, const RequestId& id,
                            const nlohmann::json& request);

// Dispatches one request object (reader thread, in input order).
void handle(CommandContext& context, const nlohmann::json& request);

// Access and authorization.
std::string statusName(AuthorizationStatus status);
AuthorizationStatus currentStatus(CommandContext& context);
AuthorizationStatus reminderStatus(CommandContext& context);
// True under full access; otherwise replies "no ... access: <status>" and returns false.
bool requireAccess(CommandContext& context, const RequestId& id);
bool requireReminderAccess(CommandContext& context, const RequestId& id);

CommandHandler requestAccess;
CommandHandler eventStatus;
CommandHandler requestRemindersAccess;
CommandHandler remindersStatus;

// Calendars and events.
CommandHandler listCalendars;
CommandHandler listEvents;
CommandHandler createEvent;
CommandHandler updateEvent;
CommandHandler deleteEvent;

// Reminder lists and reminders.
CommandHandler listReminderLists;
CommandHandler listReminders;
CommandHandler setReminderCompleted;
CommandHandler createReminder;
CommandHandler updateReminder;
CommandHandler deleteReminder;

}  // namespace lumory::cal
