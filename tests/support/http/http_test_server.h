#pragma once

// An HTTP server on 127.0.0.1 for tests of the shell's requests: answers each path as told,
// records every request, and serves from a thread of its own until destroyed.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "http/soup_server_thread.h"

namespace lumory::testing {

class HttpTestServer {
public:
    struct Response {
        int status = 200;
        std::string contentType = "application/json";
        std::string body;
        // Holds the answer back this long; `neverAnswer` holds it until the server goes.
        std::chrono::milliseconds delay{0};
        bool neverAnswer = false;
        // Added to the answer's headers (a redirect's Location, say).
        std::vector<std::pair<std::string, std::string>> headers{};
        // `body` sent again and again, chunked, until the client goes away.
        bool endless = false;
        // Only the headers, claiming a body of this many bytes that never comes.
        size_t declaredLength = 0;
    };
    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
    };

    explicit HttpTestServer(std::string address = "127.0.0.1");
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Paths without an answer get 404 with an empty body.
    void answer(const std::string& path, Response response);
    // http://ADDRESS:PORT/path, or empty when the server could not listen.
    std::string url(const std::string& path) const;

    std::vector<Request> requests() const;
    // How much of the endless answers the server has written so far.
    size_t streamedBytes() const { return streamed_; }
    // True once at least `count` requests have arrived, false when `timeout` passed first.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

private:
    // Runs on the server's thread.
    void handle(SoupServerMessage* message, const char* path);
    void stream(SoupServerMessage* message, const std::string& chunk);

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::map<std::string, Response> answers_;
    std::vector<Request> requests_;
    std::atomic<size_t> streamed_{0};
    // Last: it stops before what its handler uses goes.
    SoupServerThread server_;
};

}  // namespace lumory::testing
