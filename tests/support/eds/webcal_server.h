#pragma once

// A calendar subscription for tests: an HTTP server on 127.0.0.1 that serves one iCalendar
// text, and a read-only EDS "webcal" calendar that reads it.

#include <libedataserver/libedataserver.h>

#include <string>

#include "http/soup_server_thread.h"

namespace lumory::testsupport {

class WebcalServer {
public:
    // Serves `body` for every path, from a thread of its own, until destroyed.
    explicit WebcalServer(std::string body);

    // http://127.0.0.1:PORT/path, or empty when the server could not listen.
    std::string url(const std::string& path) const { return server_.url(path); }

private:
    std::string body_;
    testing::SoupServerThread server_;
};

// Adds a webcal calendar (or task list) reading `url`; returns its uid, empty on failure.
std::string addWebcalSource(ESourceRegistry* registry, const std::string& title,
                            const std::string& url, bool taskList = false);

}  // namespace lumory::testsupport
