#pragma once

#include <optional>
#include <string>

#include "audio_source.h"
#include "capture.h"
#include "helper_output.h"

namespace lumory::audio {

// One running capture: writes each delivered buffer as PCM and keeps recording whatever device
// is the default output. A new default is recorded alongside the old one until it delivers, so
// the switch costs no more than the new stream's first fragment.
class CaptureSession final : public AudioSourceEvents {
public:
    CaptureSession(AudioSource& source, Output& out, RecordingFormat format);

    // Opens the first recording; the server's error text when it refuses at once.
    std::optional<std::string> start(const std::string& monitor);
    // Set once the capture has ended; the source has then been asked to quit.
    const std::optional<CaptureEnd>& end() const { return end_; }

    void streamStarted(StreamId stream) override;
    void samplesDelivered(StreamId stream, std::span<const std::byte> bytes) override;
    void streamFailed(StreamId stream, const std::string& error) override;
    void defaultMonitorChanged(const std::optional<std::string>& monitor) override;
    void serverLost(const std::string& error) override;

private:
    struct Recording {
        StreamId id = 0;
        std::string monitor;
    };

    std::optional<Recording> open(const std::string& monitor, std::string& error);
    void dropNext();
    void finish(int exitStatus, std::string message);
    void stopped(const std::string& error);

    AudioSource& source_;
    Output& out_;
    RecordingFormat format_;
    std::optional<Recording> current_;
    // The new default's recording, waiting for its first buffer.
    std::optional<Recording> next_;
    bool everStarted_ = false;
    // Reopenings since the last delivered buffer, bounded so a device that keeps failing ends
    // the capture instead of looping.
    int reopenings_ = 0;
    std::string lostError_;
    std::optional<CaptureEnd> end_;
};

}  // namespace lumory::audio
