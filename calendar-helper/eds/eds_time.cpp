#include "eds_time.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "calendar_values.h"
#include "gobject_ptr.h"

namespace lumory::cal::eds {
namespace {

using namespace std::chrono;

std::string zoneName() {
    const char* tz = std::getenv("TZ");
    std::string name;
    if (tz && *tz) {
        name = tz[0] == ':' ? tz + 1 : tz;
    } else {
        char link[PATH_MAX];
        ssize_t length = readlink("/etc/localtime", link, sizeof link - 1);
        if (length > 0) name.assign(link, size_t(length));
    }
    if (auto at = name.find("zoneinfo/"); at != std::string::npos) name.erase(0, at + 9);
    return name;
}

std::optional<Instant> fromTimet(time_t t) {
    return instantFromTime(t);
}

// Calendar fields read in the helper's zone, through the C library so that TZ rules hold
// even when libical has no zone of that name.
std::optional<Instant> localFields(const icaltimetype& time) {
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    if (!time.is_date) {
        fields.tm_hour = time.hour;
        fields.tm_min = time.minute;
        fields.tm_sec = time.second;
    }
    fields.tm_isdst = -1;
    return fromTimet(std::mktime(&fields));
}

}  // namespace

ICalTimezone* localTimezone() {
    std::string name = zoneName();
    if (!name.empty() && name != "UTC" && name != "Etc/UTC") {
        if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone(name.c_str())) return zone;
    }
    return i_cal_timezone_get_utc_timezone();
}

std::optional<Instant> instantOf(const icaltimetype& time, const char* tzid, ECalClient* client) {
    if (!icaltime_is_valid_time(time) || icaltime_is_null_time(time)) return std::nullopt;
    if (time.is_date) return localFields(time);
    icaltimezone* utc = icaltimezone_get_utc_timezone();
    if (icaltime_is_utc(time)) return fromTimet(icaltime_as_timet_with_zone(time, utc));
    auto* zone = const_cast<icaltimezone*>(time.zone);
    if (!zone && tzid && *tzid && client) {
        if (ICalTimezone* known = e_cal_client_tzlookup_cb(tzid, client, nullptr, nullptr))
            zone = static_cast<icaltimezone*>(i_cal_object_get_native(I_CAL_OBJECT(known)));
    }
    if (!zone && tzid && *tzid) zone = icaltimezone_get_builtin_timezone_from_tzid(tzid);
    if (zone) return fromTimet(icaltime_as_timet_with_zone(time, zone));
    return localFields(time);
}

std::optional<Instant> instantOf(ICalTime* time, const char* tzid, ECalClient* client) {
    if (!time) return std::nullopt;
    return instantOf(*static_cast<icaltimetype*>(i_cal_object_get_native(I_CAL_OBJECT(time))), tzid,
                     client);
}

std::optional<Instant> instantOf(ECalComponentDateTime* time, ECalClient* client) {
    if (!time) return std::nullopt;
    return instantOf(e_cal_component_datetime_get_value(time),
                     e_cal_component_datetime_get_tzid(time), client);
}

ICalTimezone* zoneOf(ECalComponentDateTime* time, ECalClient* client) {
    if (!time) return nullptr;
    ICalTime* value = e_cal_component_datetime_get_value(time);
    if (!value || i_cal_time_is_date(value)) return nullptr;
    if (i_cal_time_is_utc(value)) return i_cal_timezone_get_utc_timezone();
    if (ICalTimezone* attached = i_cal_time_get_timezone(value)) return attached;
    const char* tzid = e_cal_component_datetime_get_tzid(time);
    if (!tzid || !*tzid) return nullptr;
    ICalTimezone* zone =
        client ? e_cal_client_tzlookup_cb(tzid, client, nullptr, nullptr) : nullptr;
    if (!zone) zone = i_cal_timezone_get_builtin_timezone_from_tzid(tzid);
    if (!zone) zone = i_cal_timezone_get_builtin_timezone(tzid);
    return zone;
}

ICalTime* utcTime(Instant instant) {
    ICalTimezone* utc = i_cal_timezone_get_utc_timezone();
    ICalTime* time = i_cal_time_new_from_timet_with_zone(
        system_clock::to_time_t(floor<seconds>(instant)), 0, utc);
    i_cal_time_set_timezone(time, utc);
    return time;
}

std::string utcText(Instant instant) {
    auto time = GObjectPtr<ICalTime>::adopt(utcTime(instant));
    g_autofree gchar* text = i_cal_time_as_ical_string(time.get());
    return text ? text : "";
}

ICalTime* localDate(Instant instant) {
    DueDate day = localComponents(instant, false);
    ICalTime* time = i_cal_time_new_null_time();
    i_cal_time_set_date(time, day.year, day.month, day.day);
    i_cal_time_set_is_date(time, TRUE);
    return time;
}

ICalTime* timeInZone(Instant instant, ICalTimezone* zone, bool isDate) {
    if (isDate) return localDate(instant);
    if (!zone) {
        std::time_t t = system_clock::to_time_t(floor<seconds>(instant));
        std::tm local{};
        tzset();
        localtime_r(&t, &local);
        ICalTime* time = i_cal_time_new_null_time();
        i_cal_time_set_date(time, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
        i_cal_time_set_time(time, local.tm_hour, local.tm_min, local.tm_sec);
        return time;
    }
    ICalTime* time = i_cal_time_new_from_timet_with_zone(
        system_clock::to_time_t(floor<seconds>(instant)), 0, zone);
    // The constructor labels its result UTC whatever the zone.
    i_cal_time_set_timezone(time, zone);
    return time;
}

}  // namespace lumory::cal::eds
