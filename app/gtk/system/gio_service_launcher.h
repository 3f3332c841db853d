#pragma once

#include "platform/service_process.h"

namespace lumory::gtk {

// Starts the service with GSubprocess and reads its pipes on the main context. The child leads
// a process group of its own, starts with every signal unblocked and at its default action, and
// is bound to this process's life: it gets SIGTERM when the shell dies without cleaning up.
class GioServiceLauncher : public ServiceLauncher {
public:
    LaunchOutcome launch(ServiceLaunch request) override;
};

}  // namespace lumory::gtk
