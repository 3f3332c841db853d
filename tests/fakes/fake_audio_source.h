#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio_source.h"

namespace lumory::audio::testing {

// An AudioSource whose server answers are set by the test, and whose run() plays a script of
// events, much as the sound server would deliver them.
class FakeAudioSource final : public AudioSource {
public:
    struct Opened {
        StreamId id = 0;
        std::string monitor;
        RecordingFormat format;
        bool closed = false;
    };

    std::optional<std::string> connectError;
    std::optional<std::string> monitor = std::string("speakers.monitor");
    // Monitors the server refuses to record, with the error it gives.
    std::map<std::string, std::string> refusedMonitors;
    std::function<void(AudioSourceEvents&)> script;

    std::vector<Opened> opened;
    int connectCalls = 0;
    int refreshRequests = 0;
    bool quitCalled = false;

    std::optional<std::string> connect() override {
        ++connectCalls;
        return connectError;
    }
    std::optional<std::string> defaultMonitor() override { return monitor; }

    Result<StreamId> openRecording(const std::string& name,
                                   const RecordingFormat& format) override {
        if (auto refused = refusedMonitors.find(name); refused != refusedMonitors.end()) {
            return {std::nullopt, refused->second};
        }
        StreamId id = static_cast<StreamId>(opened.size()) + 1;
        opened.push_back({id, name, format, false});
        return {id, {}};
    }
    void closeRecording(StreamId stream) override { opened.at(stream - 1).closed = true; }
    void refreshDefaultMonitor() override { ++refreshRequests; }

    void run(AudioSourceEvents& events) override {
        events.defaultMonitorChanged(monitor);
        if (script && !quitCalled) script(events);
    }
    void quit() override { quitCalled = true; }

    // Recordings still open, by monitor name.
    std::vector<std::string> openMonitors() const {
        std::vector<std::string> names;
        for (const Opened& o : opened) {
            if (!o.closed) names.push_back(o.monitor);
        }
        return names;
    }
};

}  // namespace lumory::audio::testing
