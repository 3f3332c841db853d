#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "calendar_values.h"
#include "commands.h"
#include "reminders.h"

namespace lumory::cal {

using nlohmann::json;

namespace {
const char* const kRemindersNeedDates = "reminders needs `from` and `to`";

// One request's join of its two fetches; whichever completion comes last replies.
struct ReminderJoin {
    std::mutex lock;
    std::map<std::string, Reminder> reminders;
    int outstanding = 2;
};
}  // namespace

void listReminders(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireReminderAccess(context, id)) return;
    auto from = parseDate(field(request, "from"));
    if (!from) return context.fail(id, kRemindersNeedDates);
    auto to = parseDate(field(request, "to"));
    if (!to) return context.fail(id, kRemindersNeedDates);

    std::optional<std::vector<std::string>> listIds;
    if (const json* lists = field(request, "lists"); lists && lists->is_array()) {
        std::set<std::string> wanted;
        bool allStrings = true;
        for (const auto& item : *lists) {
            if (!item.is_string())
                allStrings = false;
            else
                wanted.insert(item.get<std::string>());
        }
        if (allStrings) {
            listIds.emplace();
            for (auto& list : context.store.calendars(EntityType::reminder))
                if (wanted.count(list.identifier)) listIds->push_back(list.identifier);
            if (listIds->empty()) return context.reply(id, {{"reminders", json::array()}});
        }
    }
    const json* overdue = field(request, "overdue");
    bool includeOverdue = overdue && overdue->is_boolean() && overdue->get<bool>();

    ReminderQuery open{false, includeOverdue ? std::nullopt : from, *to, listIds};
    ReminderQuery completed{true, from, *to, listIds};

    // The reply leaves from the last completion; until then the drain waits for it.
    context.beginDeferredReply();
    auto join = std::make_shared<ReminderJoin>();
    auto completion = [&context, id, join](std::optional<std::vector<Reminder>> fetched) {
        std::unique_lock lock(join->lock);
        for (auto& reminder : fetched.value_or(std::vector<Reminder>{})) {
            if (!reminder.dueDateComponents) continue;
            auto identifier = reminder.identifier;
            join->reminders.insert_or_assign(std::move(identifier), std::move(reminder));
        }
        if (--join->outstanding > 0) return;
        lock.unlock();
        try {
            json encoded = json::array();
            for (const auto& [identifier, reminder] : join->reminders)
                encoded.push_back(encode(reminder));
            context.reply(id, {{"reminders", std::move(encoded)}});
        } catch (const std::exception& error) {
            context.fail(id, error.what());
        }
        context.endDeferredReply();
    };
    // A fetch that cannot even start counts as done, so the join still replies once.
    for (const ReminderQuery* query : {&open, &completed}) {
        try {
            context.store.fetchReminders(*query, completion);
        } catch (const std::exception&) {
            completion(std::nullopt);
        }
    }
}

}  // namespace lumory::cal
