#pragma once

namespace lumory::audio {

// Name of the variable that marks the re-launched child.
inline constexpr const char* disclaimFlag = "LUMORY_AUDIO_DISCLAIMED";
inline constexpr double sampleRate = 24000.0;
// About 20 ms per delivered buffer keeps the stream's latency low and a device switch short.
inline constexpr int kFragmentMilliseconds = 20;

inline constexpr const char* kUsageText = "usage: lumory-audio status|capture";
inline constexpr const char* kStatusGranted = "granted";
inline constexpr const char* kStatusDenied = "denied";
// The sound server is our counterpart of a capture permission: no connection, no capture. The
// words stay those the service already knows, whatever the server's own reason.
inline constexpr const char* kPermissionRefusedMessage =
    "Screen Recording permission was refused. Grant it in System Settings \u2192 Privacy & "
    "Security \u2192 Screen Recording.";
inline constexpr const char* kNoDisplayMessage = "no display to capture audio from";
inline constexpr const char* kCouldNotStartPrefix = "could not start capture: ";
inline constexpr const char* kCaptureStoppedPrefix = "capture stopped: ";

}  // namespace lumory::audio
