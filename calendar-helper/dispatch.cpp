#include <array>
#include <string_view>

#include "commands.h"

namespace lumory::cal {
namespace {

constexpr const char* kUnknownCommand = "unknown command: ";
constexpr const char* kNoCommandWord = "none";
constexpr const char* kCommandFailed = "command failed";

struct Command {
    std::string_view word;
    CommandHandler* handler;
};

// Compared in this order; the first match wins.
constexpr std::array kCommands{
    Command{"auth", requestAccess},
    Command{"status", eventStatus},
    Command{"calendars", listCalendars},
    Command{"events", listEvents},
    Command{"create", createEvent},
    Command{"update", updateEvent},
    Command{"delete", deleteEvent},
    Command{"reminders-auth", requestRemindersAccess},
    Command{"reminders-status", remindersStatus},
    Command{"reminder-lists", listReminderLists},
    Command{"reminders", listReminders},
    Command{"reminder-complete", setReminderCompleted},
    Command{"reminder-create", createReminder},
    Command{"reminder-update", updateReminder},
    Command{"reminder-delete", deleteReminder},
};

}  // namespace

void handle(CommandContext& context, const nlohmann::json& request) {
    RequestId id;
    std::optional<std::string_view> word;
    if (request.is_object()) {
        if (auto found = request.find("id"); found != request.end()) id = *found;
        if (auto found = request.find("cmd"); found != request.end() && found->is_string())
            word = found->get_ref<const std::string&>();
    }
    if (word) {
        for (const Command& command : kCommands) {
            if (command.word != *word) continue;
            // A command that throws still answers, and the reader goes on with the next line.
            try {
                command.handler(context, id, request);
            } catch (const Failure& failure) {
                context.fail(id, failure.errorDescription());
            } catch (const std::exception& error) {
                context.fail(id, error.what());
            } catch (...) {
                context.fail(id, kCommandFailed);
            }
            return;
        }
    }
    context.fail(id, std::string(kUnknownCommand) + std::string(word.value_or(kNoCommandWord)));
}

}  // namespace lumory::cal
