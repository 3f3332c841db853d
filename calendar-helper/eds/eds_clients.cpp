#include "eds_clients.h"

namespace lumory::cal::eds {

GObjectPtr<ECalClient> ClientCache::client(ESource* source, ECalClientSourceType type,
                                           std::string* error) {
    std::string uid = e_source_get_uid(source);
    unsigned startedIn;
    {
        std::lock_guard guard(lock);
        if (auto found = clients.find(uid); found != clients.end()) return found->second;
        startedIn = generation;
    }
    // Connecting can take as long as the backend does; the lock is not held meanwhile, so that
    // clear() on the main loop never waits for it.
    g_autoptr(GError) failure = nullptr;
    // Any positive wait makes local sources wait it out in full, and 0 never returns.
    EClient* opened = e_cal_client_connect_sync(source, type, guint32(-1), nullptr, &failure);
    if (!opened) {
        if (error) *error = failure ? failure->message : "cannot open the calendar";
        return {};
    }
    auto client = GObjectPtr<ECalClient>::adopt(E_CAL_CLIENT(opened));
    std::lock_guard guard(lock);
    // A client connected before a clear() serves this call only; another thread may have
    // connected the same source meanwhile, and its client is kept.
    if (startedIn != generation) return client;
    return clients.emplace(uid, client).first->second;
}

void ClientCache::clear() {
    std::map<std::string, GObjectPtr<ECalClient>> dropped;
    {
        std::lock_guard guard(lock);
        dropped.swap(clients);
        ++generation;
    }
}

}  // namespace lumory::cal::eds
