#include "gtk/test_probe.h"

#include <glib.h>

#include <cstdio>
#include <cstring>

namespace lumory::gtk {

bool testProbeEnabled() {
    static const bool enabled = [] {
        const char* value = g_getenv("LUMORY_TEST_PROBE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void emitTestProbe(const nlohmann::json& report) {
    if (!testProbeEnabled()) return;
    std::string line = "lumory-probe " + report.dump() + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace lumory::gtk
