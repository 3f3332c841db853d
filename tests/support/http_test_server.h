#pragma once

// An HTTP server on 127.0.0.1 for tests of the shell's requests: answers each path as told,
// records every request, and serves from a thread of its own until destroyed.

#include <glib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    };
    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers;  // names in lower case
        std::string body;
    };

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Paths without an answer get 404 with an empty body.
    void answer(const std::string& path, Response response);
    // http://127.0.0.1:PORT/path, or empty when the server could not listen.
    std::string url(const std::string& path) const;

    std::vector<Request> requests() const;
    // True once at least `count` requests have arrived, false when `timeout` passed first.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

private:
    // `message` is the server's SoupServerMessage; runs on the server's thread.
    void handle(void* message, const char* path);

    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::atomic<int> port_{0};
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::map<std::string, Response> answers_;
    std::vector<Request> requests_;
};

}  // namespace lumory::testing
