#pragma once

#include <nlohmann/json.hpp>

namespace lumory::gtk {

// Off unless LUMORY_TEST_PROBE=1: end-to-end tests and benchmarks read what the window shows
// from the shell's standard output, one "lumory-probe " line per report (a page requested, a
// page loaded with its text, the page's title changed).
bool testProbeEnabled();
void emitTestProbe(const nlohmann::json& report);

}  // namespace lumory::gtk
