#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace lumory::testsupport {

// A private PulseAudio server for one test: a fresh folder, null sinks by name (the first is the
// default), anonymous access on a Unix socket, no autospawn. The constructor points this process's
// environment at it, so every client started afterwards talks to it and to nothing else; the
// destructor stops it and removes the folder.
class PulseServer {
public:
    explicit PulseServer(std::vector<std::string> sinks = {"testsink"});
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Whether the server runs and accepts connections; why not, otherwise.
    bool ready() const { return ready_; }
    const std::string& failure() const { return failure_; }
    const std::string& folder() const { return folder_; }

    // Ends the server abruptly, as a crash would, and waits until it is gone.
    void kill();
    // Unloads a null sink, as unplugging a device would.
    bool removeSink(const std::string& name) const;
    // Runs pactl against this server; true when it succeeded.
    bool pactl(const std::vector<std::string>& arguments) const;

private:
    bool waitForSocket();

    std::string folder_;
    std::string socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string failure_;
};

// Points this process's sound clients at a folder where no server listens, and turns off
// autospawn, so a test can see how the helper behaves without any server at all.
class NoPulseServer {
public:
    NoPulseServer();
    ~NoPulseServer();
    NoPulseServer(const NoPulseServer&) = delete;
    NoPulseServer& operator=(const NoPulseServer&) = delete;

private:
    std::string folder_;
};

}  // namespace lumory::testsupport
