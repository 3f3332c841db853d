#pragma once

#include <glib.h>

#include "event_store.h"

namespace lumory::cal::eds {

// A failed write as the peer hears of it: the backend's own words, else `fallback`.
[[noreturn]] inline void raise(GError* error, const char* fallback) {
    throw StoreError(error && error->message ? error->message : fallback);
}

}  // namespace lumory::cal::eds
