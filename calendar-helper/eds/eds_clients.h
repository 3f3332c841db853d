#pragma once

// Opened calendar clients, one per source, kept for the life of the store (until reset).

#include <libecal/libecal.h>

#include <map>
#include <mutex>
#include <string>

#include "gobject_ptr.h"

namespace lumory::cal::eds {

class ClientCache {
public:
    // The connected client of the source, or null with the reason in `error`. Any thread; it
    // blocks only the calling thread while the client connects.
    GObjectPtr<ECalClient> client(ESource* source, ECalClientSourceType type,
                                  std::string* error = nullptr);
    void clear();

private:
    std::mutex lock;
    std::map<std::string, GObjectPtr<ECalClient>> clients;  // by source uid
    unsigned generation = 0;                                // counts clear()s
};

}  // namespace lumory::cal::eds
