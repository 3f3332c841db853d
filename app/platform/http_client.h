#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace lumory {

struct HttpResponse {
    // Nothing when no HTTP response arrived (transport error, time-out).
    std::optional<int> status;
    std::optional<std::string> body;  // nothing when no body data arrived
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::string contentType;          // empty for no content-type header
    std::optional<std::string> body;  // nothing for no body
    std::chrono::seconds timeout{60};
    // Ask the origin again instead of answering from any local cache.
    bool ignoreLocalCache = false;
    // A redirect answer is then the response itself, not followed.
    bool followRedirects = true;
    // The most body the caller wants; a longer one is not read to its end and the response
    // carries no body.
    std::optional<size_t> maxBodyBytes;
};

// One request at a time per call; the completion runs on the main thread.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual void send(const HttpRequest& request, std::function<void(HttpResponse)> done) = 0;
};

}  // namespace lumory
