#pragma once

// A libsoup server on 127.0.0.1 for tests, on a port of its own and a thread of its own with its
// own main context, so that it answers while the test's thread blocks or runs its own loop.

#include <libsoup/soup.h>

#include <atomic>
#include <functional>
#include <string>

#include "main_loop_thread.h"

namespace lumory::testing {

class SoupServerThread {
public:
    // Called on the server's thread for every request, with the path asked for.
    using Handler = std::function<void(SoupServerMessage* message, const char* path)>;

    // `address`: any loopback address (127.0.0.2 stands for a host that is not this one).
    explicit SoupServerThread(Handler handler, std::string address = "127.0.0.1");
    SoupServerThread(const SoupServerThread&) = delete;
    SoupServerThread& operator=(const SoupServerThread&) = delete;

    // http://ADDRESS:PORT/path, or empty when the server could not listen.
    std::string url(const std::string& path) const;
    // The server's main context: a source attached to it runs on the server's thread.
    GMainContext* context() const { return thread_.context(); }

private:
    // Both on the server's thread.
    bool listen();
    void close();

    Handler handler_;
    std::string address_;
    SoupServer* server_ = nullptr;
    std::atomic<int> port_{0};
    // Last: the server stops before what its handler uses goes.
    MainLoopThread thread_;
};

}  // namespace lumory::testing
