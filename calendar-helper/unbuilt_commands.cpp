// Temporary answers for the data commands until each is built; every entry is removed as its
// command lands in its own file.

#include "commands.h"

namespace lumory::cal {
namespace {
constexpr const char* kNotAvailable = "not available";
}

void listCalendars(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void listEvents(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void createEvent(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void updateEvent(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void deleteEvent(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void listReminderLists(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void listReminders(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void setReminderCompleted(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void createReminder(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void updateReminder(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}
void deleteReminder(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.fail(id, kNotAvailable);
}

}  // namespace lumory::cal
