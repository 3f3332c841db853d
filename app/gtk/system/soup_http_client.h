#pragma once

#include <libsoup/soup.h>

#include "gobject_ptr.h"
#include "platform/http_client.h"

namespace lumory::gtk {

// HTTP on libsoup 3, answered on the default main context.
class SoupHttpClient : public HttpClient {
public:
    SoupHttpClient();
    ~SoupHttpClient() override;

    void send(const HttpRequest& request, std::function<void(HttpResponse)> done) override;

private:
    GObjectPtr<SoupSession> session_;
    GObjectPtr<GCancellable> cancellable_;
};

}  // namespace lumory::gtk
