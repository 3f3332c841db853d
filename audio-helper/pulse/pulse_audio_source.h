#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio_source.h"

namespace lumory::audio {

// AudioSource over libpulse with a single-threaded main loop, so every event and every write to
// standard output happens on the thread that calls run(). PipeWire serves the same protocol.
class PulseAudioSource final : public AudioSource {
public:
    PulseAudioSource();
    ~PulseAudioSource() override;
    PulseAudioSource(const PulseAudioSource&) = delete;
    PulseAudioSource& operator=(const PulseAudioSource&) = delete;

    std::optional<std::string> connect() override;
    std::optional<std::string> defaultMonitor() override;
    Result<StreamId> openRecording(const std::string& monitor,
                                   const RecordingFormat& format) override;
    void closeRecording(StreamId stream) override;
    void refreshDefaultMonitor() override;
    void run(AudioSourceEvents& events) override;
    void quit() override;

private:
    struct Recording {
        PulseAudioSource* owner = nullptr;
        StreamId id = 0;
        pa_stream* stream = nullptr;
        bool closed = false;
    };

    bool iterateUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    std::string lastError() const;
    void resolveDefaultMonitor();
    void monitorResolved(std::optional<std::string> monitor);
    void retire(std::unique_ptr<Recording> recording);

    static void contextStateChanged(pa_context* context, void* userdata);
    static void serverEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                            void* userdata);
    static void serverInfoArrived(pa_context* context, const pa_server_info* info, void* userdata);
    static void sinkInfoArrived(pa_context* context, const pa_sink_info* info, int eol,
                                void* userdata);
    static void streamStateChanged(pa_stream* stream, void* userdata);
    static void streamReadable(pa_stream* stream, size_t bytes, void* userdata);
    static void purgeRetired(pa_mainloop_api* api, pa_defer_event* event, void* userdata);

    pa_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    AudioSourceEvents* events_ = nullptr;
    bool quitting_ = false;
    bool serverLostReported_ = false;
    StreamId nextId_ = 1;
    std::map<StreamId, std::unique_ptr<Recording>> recordings_;
    // Closed streams are released on a later loop turn: one may be closed inside its own callback.
    std::vector<std::unique_ptr<Recording>> retired_;
    pa_defer_event* purge_ = nullptr;
    // The answer of a synchronous defaultMonitor() call, and the monitor of a sink being read.
    std::optional<std::optional<std::string>> resolved_;
    std::optional<std::string> sinkMonitor_;
};

}  // namespace lumory::audio
