#include "xvfb/xvfb_session_bus.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "process/child_process.h"

namespace lumory::testing {

namespace {

constexpr char kBareConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

XvfbSessionBus::XvfbSessionBus(bool serviceFiles) {
    std::string configArgument = "--session";
    if (!serviceFiles) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumory-bus-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        configFolder_ = pattern;
        std::ofstream(configFolder_ + "/bus.conf") << kBareConfig;
        configArgument = "--config-file=" + configFolder_ + "/bus.conf";
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 2);
        dup2(fds[1], 1);
        execlp("dbus-daemon", "dbus-daemon", configArgument.c_str(), "--nofork", "--nopidfile",
               "--print-address=1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid_ > 0) address_ = readFirstLine(fds[0], std::chrono::seconds(10));
    close(fds[0]);
    if (address_.empty()) stopProcess(pid_, std::chrono::seconds(2));
}

XvfbSessionBus::~XvfbSessionBus() {
    stopProcess(pid_, std::chrono::seconds(3));
    if (!configFolder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(configFolder_, ignored);
    }
}

}  // namespace lumory::testing
