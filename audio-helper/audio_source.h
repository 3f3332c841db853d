#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace lumory::audio {

// Identifies one recording stream of an AudioSource; never reused within a process.
using StreamId = int;

// What a recording asks the sound server for. Samples always arrive as 32-bit little-endian
// floats; the server converts from whatever the device runs at.
struct RecordingFormat {
    double sampleRate = 0;
    int channels = 0;
    int fragmentMilliseconds = 0;
};

// Either a value or the sound server's error text.
template <typename T>
struct Result {
    std::optional<T> value;
    std::string error;
};

// What an AudioSource reports while it runs, all on the thread that called run().
class AudioSourceEvents {
public:
    virtual ~AudioSourceEvents() = default;
    virtual void streamStarted(StreamId stream) = 0;
    // One delivered buffer of float samples, as the server handed it over.
    virtual void samplesDelivered(StreamId stream, std::span<const std::byte> bytes) = 0;
    // The stream ended without being closed (its device went away, the server refused it...).
    virtual void streamFailed(StreamId stream, const std::string& error) = 0;
    // The monitor of the default output as it now stands; may repeat an unchanged name.
    virtual void defaultMonitorChanged(const std::optional<std::string>& monitor) = 0;
    virtual void serverLost(const std::string& error) = 0;
};

// The system's audio output as the helper needs it: the monitor of the default output device,
// recordings of it, and notice of changes. Makes no decision of its own.
class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Connects without starting a server and without asking the user. Answers why it could
    // not connect, or nothing once connected.
    [[nodiscard]] virtual std::optional<std::string> connect() = 0;
    // The monitor of the current default output, or nothing when there is no output device.
    virtual std::optional<std::string> defaultMonitor() = 0;

    virtual Result<StreamId> openRecording(const std::string& monitor,
                                           const RecordingFormat& format) = 0;
    // Stops a recording; no event for it is reported afterwards.
    virtual void closeRecording(StreamId stream) = 0;
    // Asks for a fresh defaultMonitorChanged report.
    virtual void refreshDefaultMonitor() = 0;

    // Reports events until quit() is called; reports the default monitor once on entry.
    virtual void run(AudioSourceEvents& events) = 0;
    virtual void quit() = 0;
};

}  // namespace lumory::audio
