#pragma once

// The built lumory-cal in a given time zone, asked one request at a time, and the components
// EDS holds, read as another program would (for tests run under tests/support/eds/eds_session.sh).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "eds/eds_fixture.h"
#include "process/line_protocol_process.h"

namespace lumory::testsupport {

constexpr auto kHelperReplyLimit = std::chrono::seconds(30);

// The helper the tests run: the one built here, or LUMORY_CAL_UNDER_TEST (for example an older
// build, to see a test fail without a fix; eds_session.sh passes it on through
// LUMORY_EDS_EXTRA_ENV).
inline std::string helperUnderTest() {
    const char* path = std::getenv("LUMORY_CAL_UNDER_TEST");
    return path != nullptr && *path != '\0' ? path : LUMORY_CAL_PATH;
}

class HelperClient {
public:
    explicit HelperClient(const std::string& zone)
        : process({helperUnderTest()}, {"LUMORY_DESKTOP=1", "TZ=" + zone}) {
        auto ready = process.readJsonUntil(
            [](const nlohmann::json& l) { return l.value("event", "") == "ready"; },
            kHelperReplyLimit);
        EXPECT_TRUE(ready) << "no ready notice";
    }
    // The reply to the request, without its id.
    nlohmann::json ask(nlohmann::json request) {
        int id = ++lastId;
        request["id"] = id;
        EXPECT_TRUE(process.writeLine(request.dump()));
        auto reply = process.readJsonUntil(
            [id](const nlohmann::json& l) { return l.contains("id") && l["id"] == id; },
            kHelperReplyLimit);
        EXPECT_TRUE(reply) << "no reply to " << request.dump();
        if (!reply) return nlohmann::json::object();
        reply->erase("id");
        return *reply;
    }
    nlohmann::json events(const std::string& calendar, const std::string& from,
                          const std::string& to) {
        return ask(
            {{"cmd", "events"}, {"from", from}, {"to", to}, {"calendars", {calendar}}})["events"];
    }

private:
    LineProtocolProcess process;
    int lastId = 0;
};

// The iCalendar text of every component EDS holds for a uid, lines unfolded.
inline std::vector<std::string> storedComponents(EdsFixture& eds, const std::string& source,
                                                 const std::string& uid) {
    struct Unref {
        void operator()(gpointer object) const { g_object_unref(object); }
    };
    std::unique_ptr<ECalClient, Unref> client(eds.connect(source));
    std::vector<std::string> texts;
    GSList* components = nullptr;
    if (!client || !e_cal_client_get_objects_for_uid_sync(client.get(), uid.c_str(), &components,
                                                          nullptr, nullptr))
        return texts;
    for (GSList* item = components; item; item = item->next) {
        gchar* text = e_cal_component_get_as_string(E_CAL_COMPONENT(item->data));
        std::string unfolded = text ? text : "";
        g_free(text);
        for (size_t at; (at = unfolded.find("\r\n ")) != std::string::npos;) unfolded.erase(at, 3);
        texts.push_back(unfolded);
    }
    g_slist_free_full(components, g_object_unref);
    return texts;
}

}  // namespace lumory::testsupport
