#include "calendar_values.h"
#include "commands.h"

namespace lumory::cal {

void listCalendars(CommandContext& context, const RequestId& id, const nlohmann::json&) {
    if (!requireAccess(context, id)) return;
    auto calendars = context.store.calendars(EntityType::event);
    sortCalendars(calendars);
    nlohmann::json encoded = nlohmann::json::array();
    for (const auto& calendar : calendars) encoded.push_back(encode(calendar));
    context.reply(id, {{"calendars", std::move(encoded)}});
}

}  // namespace lumory::cal
