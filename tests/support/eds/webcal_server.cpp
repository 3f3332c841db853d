#include "eds/webcal_server.h"

#include "eds/eds_fixture.h"

namespace lumory::testsupport {

WebcalServer::WebcalServer(std::string body)
    : body_(std::move(body)), server_([this](SoupServerMessage* message, const char*) {
          soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
          soup_server_message_set_response(message, "text/calendar", SOUP_MEMORY_COPY, body_.data(),
                                           body_.size());
      }) {}

std::string addWebcalSource(ESourceRegistry* registry, const std::string& title,
                            const std::string& url, bool taskList) {
    return addRemoteSource(registry, title, url, "webcal", "webcal-stub", taskList);
}

}  // namespace lumory::testsupport
