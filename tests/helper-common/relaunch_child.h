#pragma once

// The test program doubles as the re-launched child: when the marker below is present it writes
// what it was started with to a report file and exits, instead of running the tests.
inline constexpr const char* kTestMarker = "LUMORY_TEST_DISCLAIMED";
inline constexpr const char* kReportVariable = "LUMORY_TEST_REPORT";
inline constexpr const char* kChildExitVariable = "LUMORY_TEST_CHILD_EXIT";

// Behaviour of the exported disclaim function: its return value and what it was called with.
extern int gDisclaimResult;
extern int gDisclaimCalls;
extern int gDisclaimLastValue;
