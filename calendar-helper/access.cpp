#include <atomic>
#include <memory>

#include "commands.h"

namespace lumory::cal {
namespace {

constexpr const char* kNoCalendarAccess = "no calendar access: ";
constexpr const char* kNoRemindersAccess = "no reminders access: ";
constexpr const char* kAccessRequestFailed = "access request failed";

AuthorizationStatus statusOf(CommandContext& context, EntityType type) {
    return context.store.authorizationStatus(type);
}

bool requireFullAccess(CommandContext& context, const RequestId& id, EntityType type,
                       const char* message) {
    if (statusOf(context, type) == 3) return true;
    // Read again for the message, so that it names the status as it is now.
    context.fail(id, message + statusName(statusOf(context, type)));
    return false;
}

// Replies first, then lowers the count, so that the drain never exits before the reply is out.
void requestFullAccess(CommandContext& context, const RequestId& id, EntityType type) {
    context.beginDeferredReply();
    // A store that answers twice must not lower the count twice.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    auto completion = [&context, id, type, answered](bool granted,
                                                     std::optional<std::string> error) {
        if (answered->exchange(true)) return;
        if (error) {
            context.fail(id, *error);
        } else {
            if (granted) context.store.reset();
            context.reply(id, {{"status", statusName(statusOf(context, type))},
                               {"granted", granted}});
        }
        context.endDeferredReply();
    };
    try {
        context.store.requestFullAccess(type, completion);
    } catch (const std::exception& error) {
        if (answered->exchange(true)) return;
        context.fail(id, error.what()[0] != '\0' ? error.what() : kAccessRequestFailed);
        context.endDeferredReply();
    }
}

}  // namespace

std::string statusName(AuthorizationStatus status) {
    switch (status) {
        case 0: return "notDetermined";
        case 1: return "restricted";
        case 2: return "denied";
        case 3: return "fullAccess";
        case 4: return "writeOnly";
        default: return "unknown";
    }
}

AuthorizationStatus currentStatus(CommandContext& context) {
    return statusOf(context, EntityType::event);
}

AuthorizationStatus reminderStatus(CommandContext& context) {
    return statusOf(context, EntityType::reminder);
}

bool requireAccess(CommandContext& context, const RequestId& id) {
    return requireFullAccess(context, id, EntityType::event, kNoCalendarAccess);
}

bool requireReminderAccess(CommandContext& context, const RequestId& id) {
    return requireFullAccess(context, id, EntityType::reminder, kNoRemindersAccess);
}

void requestAccess(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    requestFullAccess(context, id, EntityType::event);
}

void requestRemindersAccess(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    requestFullAccess(context, id, EntityType::reminder);
}

void eventStatus(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.reply(id, {{"status", statusName(currentStatus(context))}});
}

void remindersStatus(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    context.reply(id, {{"status", statusName(reminderStatus(context))}});
}

}  // namespace lumory::cal
