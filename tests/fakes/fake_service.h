#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/host_system.h"
#include "platform/service_process.h"

namespace lumory::fakes {

class FakeServiceProcess : public ServiceProcess {
public:
    explicit FakeServiceProcess(FakeServiceProcess*& registered) : registered_(registered) {
        registered_ = this;
    }
    ~FakeServiceProcess() override {
        if (registered_ == this) registered_ = nullptr;
    }
    bool isRunning() const override {
        runningChecks.push_back(std::chrono::steady_clock::now());
        return running;
    }
    void terminate() override {
        ++terminateRequests;
        terminatedAt = std::chrono::steady_clock::now();
        if (stopsOnTerminate) running = false;
    }
    void interrupt() override {
        ++interruptRequests;
        interruptedAt = std::chrono::steady_clock::now();
        if (stopsOnInterrupt) running = false;
    }
    void killGroup() override {
        ++groupKills;
        running = false;
    }
    void stopReading() override { readingStopped = true; }

    bool running = true;
    bool stopsOnTerminate = true;
    bool stopsOnInterrupt = false;
    bool readingStopped = false;
    int terminateRequests = 0;
    int interruptRequests = 0;
    int groupKills = 0;
    // When the shell looked and when it asked, to check its pacing.
    mutable std::vector<std::chrono::steady_clock::time_point> runningChecks;
    std::chrono::steady_clock::time_point terminatedAt;
    std::chrono::steady_clock::time_point interruptedAt;

private:
    FakeServiceProcess*& registered_;
};

// Plays the child's side: the test writes to its streams and ends it. A stream whose reader
// declined a chunk, or a process whose reading was stopped, delivers nothing more.
class FakeServiceLauncher : public ServiceLauncher {
public:
    LaunchOutcome launch(ServiceLaunch request) override {
        ++launches;
        launched = std::move(request);
        if (!failure.empty()) return {nullptr, failure};
        auto process = std::make_unique<FakeServiceProcess>(process_);
        outputOpen_ = errorOpen_ = true;
        return {std::move(process), {}};
    }

    void writeOutput(std::string_view bytes) { deliver(launched.onOutput, outputOpen_, bytes); }
    void writeError(std::string_view bytes) { deliver(launched.onError, errorOpen_, bytes); }
    void exit(int status) {
        if (process_) process_->running = false;
        launched.onExit(status);
    }

    // Empty once the delegate that started it has let it go.
    FakeServiceProcess* process() const { return process_; }

    std::string failure;  // non-empty: the launch fails with this description
    ServiceLaunch launched;
    int launches = 0;

private:
    void deliver(const std::function<bool(std::string_view)>& reader, bool& open,
                 std::string_view bytes) {
        if (!open || !reader) return;
        open = reader(bytes);
    }

    FakeServiceProcess* process_ = nullptr;
    bool outputOpen_ = false;
    bool errorOpen_ = false;
};

class FakeHostSystem : public HostSystem {
public:
    std::optional<std::string> environmentValue(const std::string& name) const override {
        auto found = environment.find(name);
        if (found == environment.end()) return std::nullopt;
        return found->second;
    }
    std::string homeDirectory() const override { return home; }
    std::string temporaryDirectory() const override { return temporary; }
    long processId() const override { return pid; }
    std::optional<std::string> resourcesDirectory() const override { return resources; }
    bool isExecutableFile(const std::string& path) const override {
        return executables.count(path) != 0;
    }
    std::vector<std::string> spellingDictionaries() const override { return dictionaries; }

    std::map<std::string, std::string> environment;
    std::string home = "/home/ada";
    std::string temporary = "/tmp/ada";
    long pid = 4242;
    std::optional<std::string> resources = "/opt/lumory/lib/lumory";
    std::set<std::string> executables = {"/opt/lumory/lib/lumory/lumory-server"};
    std::vector<std::string> dictionaries = {"en_US"};
};

}  // namespace lumory::fakes
