#pragma once

// What a test does to the private Evolution Data Server (run the test under
// tests/support/eds/eds_session.sh): add and remove calendars and task lists, write events and
// tasks directly, as another program would.

#include <libecal/libecal.h>

#include <sys/types.h>

#include <optional>
#include <string>

namespace lumory::testsupport {

class EdsFixture {
public:
    // Connects to the session's source registry; fails the test when there is none.
    EdsFixture();
    ~EdsFixture();
    EdsFixture(const EdsFixture&) = delete;
    EdsFixture& operator=(const EdsFixture&) = delete;

    ESourceRegistry* registry() const { return registry_; }

    // The built-in sources of a fresh EDS.
    static constexpr const char* kPersonalCalendar = "system-calendar";
    static constexpr const char* kPersonalTaskList = "system-task-list";

    // A new local calendar (or task list) with that title; returns its uid, empty on failure.
    std::string addSource(const std::string& title, bool taskList = false,
                          const std::optional<std::string>& color = std::nullopt);
    bool removeSource(const std::string& uid);

    // Opens a client on a source (events or tasks, by the source's kind); caller owns it.
    ECalClient* connect(const std::string& uid);

    // Adds one iCalendar component (VEVENT or VTODO text) to a source; returns its UID, empty
    // on failure.
    std::string addComponent(const std::string& sourceUid, const std::string& icalText);

    // Process id of the program that owns a bus name (e.g. the calendar factory), or 0.
    static pid_t busNameOwner(const std::string& name);

private:
    ESourceRegistry* registry_ = nullptr;
};

// Adds a calendar (or task list) that EDS reads from `url`, unauthenticated, through `backend`
// ("webcal", "caldav"), filed under `parent` (a built-in account stub such as "caldav-stub");
// returns its uid, empty on failure.
std::string addRemoteSource(ESourceRegistry* registry, const std::string& title,
                            const std::string& url, const char* backend, const char* parent,
                            bool taskList = false);

}  // namespace lumory::testsupport
