#pragma once

// A CalDAV server for tests: Radicale on 127.0.0.1, anonymous, anyone may read and write, its
// collections in a temporary folder. It can be stopped and started again on the same port and
// data, as a server that goes away and returns. EDS syncs a calendar with one of its collections
// through addRemoteSource(registry, title, url, "caldav", "caldav-stub") (eds/eds_fixture.h).

#include <memory>
#include <string>

#include "process/line_protocol_process.h"

namespace lumory::testsupport {

class CaldavServer {
public:
    // Starts the server; `running()` says whether it came up.
    CaldavServer();
    ~CaldavServer();
    CaldavServer(const CaldavServer&) = delete;
    CaldavServer& operator=(const CaldavServer&) = delete;

    bool running() const { return process_ != nullptr; }
    // Ends the server (connections then are refused); `start` brings it back with its data.
    void stop();
    bool start();

    // http://127.0.0.1:PORT/path
    std::string url(const std::string& path) const;

    // An HTTP exchange with the server; status 0 when it could not be reached.
    struct Reply {
        unsigned status = 0;
        std::string body;
    };
    Reply request(const std::string& method, const std::string& path, const std::string& body = {},
                  const std::string& contentType = {});

    // Makes a calendar collection such as "/user/calendar/"; false when the server refused.
    bool makeCalendar(const std::string& path);

private:
    TemporaryDirectory folder_;
    int port_ = 0;
    std::unique_ptr<LineProtocolProcess> process_;
};

}  // namespace lumory::testsupport
