#include "event_editing.h"

#include <glib.h>

#include "calendar_values.h"
#include "commands.h"
#include "events.h"

namespace lumory::cal {

using nlohmann::json;

namespace {
const char* const kCreateNeedsStart = "create needs `start`";
const char* const kNoCalendar = "no calendar to write to";
const char* const kUpdateNeedsId = "update needs `eventId`";
const char* const kDeleteNeedsId = "delete needs `eventId`";
const char* const kEventNotFound = "event not found: ";
const char* const kCalendarReadOnly = "calendar is read-only: ";
const char* const kUnknownCalendar = "unknown calendar: ";
const char* const kEndsBeforeStart = "event ends before it starts";

constexpr std::chrono::seconds kDefaultDuration{1800};

// Absolute URIs and relative references both count as links, as long as they parse and hold
// no white space or control characters, which no link may contain unescaped.
bool readsAsUrl(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (c <= ' ' || c == 0x7F) return false;
    if (g_uri_is_valid(text.c_str(), G_URI_FLAGS_NONE, nullptr)) return true;
    g_autoptr(GUri) base = g_uri_parse("http://base.invalid/", G_URI_FLAGS_NONE, nullptr);
    g_autoptr(GUri) resolved = g_uri_parse_relative(base, text.c_str(), G_URI_FLAGS_NONE, nullptr);
    return resolved != nullptr;
}

// The store keeps whatever it is given, so refusals that another calendar database would make
// on saving are made here.
void checkWritable(const Event& event) {
    if (event.calendar && !event.calendar->allowsContentModifications)
        throw Failure{kCalendarReadOnly + event.calendar->title};
    if (event.startDate && event.endDate && *event.endDate < *event.startDate)
        throw Failure{kEndsBeforeStart};
}

void save(CommandContext& context, const RequestId& id, const json& request, Event& event) {
    try {
        apply(request, event, context.store);
        checkWritable(event);
        context.store.saveEvent(event);
    } catch (const Failure& failure) {
        return context.fail(id, failure.errorDescription());
    } catch (const std::exception& error) {
        return context.fail(id, error.what());
    }
    context.reply(id, {{"event", encode(event)}});
}

std::optional<Event> lookUp(CommandContext& context, const RequestId& id, const json& request,
                            const char* missingIdMessage) {
    const std::string* eventId = stringField(request, "eventId");
    if (!eventId) {
        context.fail(id, missingIdMessage);
        return std::nullopt;
    }
    auto occurrence = parseDate(field(request, "occurrence"));
    auto event = findEvent(context.store, *eventId, occurrence);
    if (!event) context.fail(id, kEventNotFound + *eventId);
    return event;
}
}  // namespace

void apply(const json& request, Event& event, EventStore& store) {
    if (auto title = stringField(request, "title")) event.title = *title;
    if (auto start = parseDate(field(request, "start"))) event.startDate = *start;
    if (auto end = parseDate(field(request, "end"))) event.endDate = *end;
    if (const json* allDay = field(request, "isAllDay"); allDay && allDay->is_boolean())
        event.isAllDay = allDay->get<bool>();
    if (auto notes = stringField(request, "notes")) event.notes = *notes;
    if (auto location = stringField(request, "location")) event.location = *location;
    if (auto url = stringField(request, "url")) {
        if (readsAsUrl(*url))
            event.url = *url;
        else
            event.url.reset();
    }
    // Only the kinds of availability a calendar can hold; other numbers are ignored.
    if (const json* availability = field(request, "availability");
        availability && availability->is_number_integer()) {
        auto value = availability->get<long long>();
        if (value >= kAvailabilityBusy && value <= kAvailabilityUnavailable)
            event.availability = int(value);
    }
    if (auto calendarId = stringField(request, "calendarId")) {
        auto calendar = calendarWithId(store, *calendarId);
        if (!calendar) throw Failure{kUnknownCalendar + *calendarId};
        if (!calendar->allowsContentModifications)
            throw Failure{kCalendarReadOnly + calendar->title};
        event.calendar = std::move(calendar);
    }
    if (!event.endDate && event.startDate)
        event.endDate = shifted(*event.startDate, kDefaultDuration);
}

void createEvent(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireAccess(context, id)) return;
    if (!parseDate(field(request, "start"))) return context.fail(id, kCreateNeedsStart);
    Event event;
    if (auto calendarId = stringField(request, "calendarId"))
        event.calendar = calendarWithId(context.store, *calendarId);
    if (!event.calendar) event.calendar = context.store.defaultCalendar(EntityType::event);
    if (!event.calendar) return context.fail(id, kNoCalendar);
    save(context, id, request, event);
}

void updateEvent(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireAccess(context, id)) return;
    auto event = lookUp(context, id, request, kUpdateNeedsId);
    if (!event) return;
    if (event->calendar && !event->calendar->allowsContentModifications)
        return context.fail(id, kCalendarReadOnly + event->calendar->title);
    save(context, id, request, *event);
}

void deleteEvent(CommandContext& context, const RequestId& id, const json& request) {
    if (!requireAccess(context, id)) return;
    auto event = lookUp(context, id, request, kDeleteNeedsId);
    if (!event) return;
    if (event->calendar && !event->calendar->allowsContentModifications)
        return context.fail(id, kCalendarReadOnly + event->calendar->title);
    try {
        context.store.removeEvent(*event);
    } catch (const std::exception& error) {
        return context.fail(id, error.what());
    }
    context.reply(id, {{"ok", true}});
}

}  // namespace lumory::cal
