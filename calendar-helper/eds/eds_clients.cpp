#include "eds_clients.h"

namespace lumory::cal::eds {

GObjectPtr<ECalClient> ClientCache::client(ESource* source, ECalClientSourceType type,
                                           std::string* error) {
    std::string uid = e_source_get_uid(source);
    std::lock_guard guard(lock);
    if (auto found = clients.find(uid); found != clients.end()) return found->second;
    g_autoptr(GError) failure = nullptr;
    // Any positive wait makes local sources wait it out in full, and 0 never returns.
    EClient* opened = e_cal_client_connect_sync(source, type, guint32(-1), nullptr, &failure);
    if (!opened) {
        if (error) *error = failure ? failure->message : "cannot open the calendar";
        return {};
    }
    auto client = GObjectPtr<ECalClient>::adopt(E_CAL_CLIENT(opened));
    clients.emplace(uid, client);
    return client;
}

void ClientCache::clear() {
    std::lock_guard guard(lock);
    clients.clear();
}

}  // namespace lumory::cal::eds
