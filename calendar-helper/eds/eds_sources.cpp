#include "eds_sources.h"

#include <algorithm>
#include <cstring>

namespace lumory::cal::eds {
namespace {

const char* extensionFor(EntityType type) {
    return type == EntityType::event ? E_SOURCE_EXTENSION_CALENDAR : E_SOURCE_EXTENSION_TASK_LIST;
}

ECalClientSourceType clientTypeFor(EntityType type) {
    return type == EntityType::event ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS
                                     : E_CAL_CLIENT_SOURCE_TYPE_TASKS;
}

SourceType sourceTypeOf(const char* backend) {
    std::string name = backend ? backend : "";
    if (name == "local") return SourceType::local;
    if (name == "caldav" || name == "google") return SourceType::caldav;
    if (name == "ews") return SourceType::exchange;
    if (name == "webcal") return SourceType::subscribed;
    if (name == "contacts") return SourceType::birthdays;
    return SourceType::unknown;
}

// "#rgb", "#rrggbb", "#rrrgggbbb" or "#rrrrggggbbbb", as sources store their colour.
std::optional<std::vector<double>> colorComponents(const char* text) {
    if (!text || text[0] != '#') return std::nullopt;
    size_t digits = std::strlen(text + 1);
    if (digits == 0 || digits % 3 != 0 || digits > 12) return std::nullopt;
    size_t width = digits / 3;
    std::vector<double> components;
    for (size_t channel = 0; channel < 3; ++channel) {
        unsigned value = 0;
        for (size_t i = 0; i < width; ++i) {
            int digit = g_ascii_xdigit_value(text[1 + channel * width + i]);
            if (digit < 0) return std::nullopt;
            value = value * 16 + unsigned(digit);
        }
        components.push_back(double(value) / double((1u << (4 * width)) - 1));
    }
    return components;
}

}  // namespace

Calendar describe(ESourceRegistry* registry, ESource* source, EntityType type, ECalClient* client) {
    Calendar calendar;
    calendar.identifier = e_source_get_uid(source);
    g_autofree gchar* title = e_source_dup_display_name(source);
    calendar.title = title ? title : "";
    if (const char* parentUid = e_source_get_parent(source)) {
        auto parent = GObjectPtr<ESource>::adopt(e_source_registry_ref_source(registry, parentUid));
        if (parent) {
            g_autofree gchar* parentTitle = e_source_dup_display_name(parent.get());
            calendar.sourceTitle = parentTitle ? parentTitle : "";
        }
    }
    auto* extension = e_source_get_extension(source, extensionFor(type));
    calendar.sourceType =
        sourceTypeOf(e_source_backend_get_backend_name(E_SOURCE_BACKEND(extension)));
    g_autofree gchar* color = e_source_selectable_dup_color(E_SOURCE_SELECTABLE(extension));
    calendar.colorComponents = colorComponents(color);
    calendar.allowsContentModifications = client && !e_client_is_readonly(E_CLIENT(client));
    return calendar;
}

std::vector<OpenSource> openSources(ESourceRegistry* registry, EntityType type,
                                    ClientCache& clients,
                                    const std::optional<std::vector<std::string>>& only) {
    std::vector<OpenSource> result;
    if (!registry) return result;
    GList* sources = e_source_registry_list_enabled(registry, extensionFor(type));
    for (GList* item = sources; item; item = item->next) {
        auto source = GObjectPtr<ESource>::retain(E_SOURCE(item->data));
        if (only &&
            std::find(only->begin(), only->end(), e_source_get_uid(source.get())) == only->end())
            continue;
        auto client = clients.client(source.get(), clientTypeFor(type));
        Calendar calendar = describe(registry, source.get(), type, client.get());
        result.push_back({std::move(source), std::move(client), std::move(calendar)});
    }
    g_list_free_full(sources, g_object_unref);
    return result;
}

std::optional<OpenSource> openSource(ESourceRegistry* registry, EntityType type,
                                     const std::string& uid, ClientCache& clients) {
    if (!registry) return std::nullopt;
    auto source = GObjectPtr<ESource>::adopt(e_source_registry_ref_source(registry, uid.c_str()));
    if (!source || !e_source_has_extension(source.get(), extensionFor(type)) ||
        !e_source_registry_check_enabled(registry, source.get()))
        return std::nullopt;
    auto client = clients.client(source.get(), clientTypeFor(type));
    Calendar calendar = describe(registry, source.get(), type, client.get());
    return OpenSource{std::move(source), std::move(client), std::move(calendar)};
}

std::vector<Calendar> calendars(ESourceRegistry* registry, EntityType type, ClientCache& clients) {
    std::vector<Calendar> result;
    for (auto& open : openSources(registry, type, clients))
        result.push_back(std::move(open.calendar));
    return result;
}

std::optional<Calendar> defaultCalendar(ESourceRegistry* registry, EntityType type,
                                        ClientCache& clients) {
    if (!registry) return std::nullopt;
    auto source = GObjectPtr<ESource>::adopt(
        type == EntityType::event ? e_source_registry_ref_default_calendar(registry)
                                  : e_source_registry_ref_default_task_list(registry));
    if (!source) return std::nullopt;
    auto open = openSource(registry, type, e_source_get_uid(source.get()), clients);
    if (!open) return std::nullopt;
    return std::move(open->calendar);
}

}  // namespace lumory::cal::eds
