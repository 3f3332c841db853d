#include "capture_session.h"

#include <cstring>
#include <utility>

#include "audio_messages.h"
#include "sample_conversion.h"

namespace lumory::audio {

namespace {

constexpr int kMaxReopenings = 3;

}  // namespace

CaptureSession::CaptureSession(AudioSource& source, Output& out, RecordingFormat format)
    : source_(source), out_(out), format_(format) {}

std::optional<std::string> CaptureSession::start(const std::string& monitor) {
    std::string error;
    current_ = open(monitor, error);
    if (!current_) return error;
    return std::nullopt;
}

std::optional<CaptureSession::Recording> CaptureSession::open(const std::string& monitor,
                                                              std::string& error) {
    Result<StreamId> opened = source_.openRecording(monitor, format_);
    if (!opened.value) {
        error = opened.error;
        return std::nullopt;
    }
    return Recording{*opened.value, monitor};
}

void CaptureSession::dropNext() {
    if (!next_) return;
    source_.closeRecording(next_->id);
    next_.reset();
}

void CaptureSession::finish(int exitStatus, std::string message) {
    if (end_) return;
    end_ = CaptureEnd{exitStatus, std::move(message)};
    source_.quit();
}

void CaptureSession::stopped(const std::string& error) {
    finish(1, kCaptureStoppedPrefix + error);
}

void CaptureSession::streamStarted(StreamId stream) {
    if (current_ && current_->id == stream) everStarted_ = true;
}

void CaptureSession::samplesDelivered(StreamId stream, std::span<const std::byte> bytes) {
    if (end_) return;
    if (next_ && next_->id == stream) {
        if (current_) source_.closeRecording(current_->id);
        current_ = std::move(next_);
        next_.reset();
        everStarted_ = true;
    } else if (!current_ || current_->id != stream) {
        return;  // a buffer still queued for a recording we already left
    }
    reopenings_ = 0;

    std::vector<std::int16_t> samples = convertSamples(bytes);
    switch (out_.write(std::as_bytes(std::span(samples)))) {
    case WriteResult::written:
        break;
    case WriteResult::readerGone:
        // The reader decides when the stream ends; that is no failure worth a message.
        finish(0, {});
        break;
    case WriteResult::failed:
        stopped(std::strerror(out_.lastError()));
        break;
    }
}

void CaptureSession::streamFailed(StreamId stream, const std::string& error) {
    if (end_) return;
    if (next_ && next_->id == stream) {
        dropNext();
        return;
    }
    if (!current_ || current_->id != stream) return;
    source_.closeRecording(stream);
    current_.reset();

    if (next_) {
        current_ = std::move(next_);
        next_.reset();
        return;
    }
    if (!everStarted_) {
        finish(1, kCouldNotStartPrefix + error);
        return;
    }
    if (++reopenings_ > kMaxReopenings) {
        stopped(error);
        return;
    }
    // Usually the device went away; the server has a new default by now.
    lostError_ = error;
    source_.refreshDefaultMonitor();
}

void CaptureSession::defaultMonitorChanged(const std::optional<std::string>& monitor) {
    if (end_) return;
    if (!current_) {
        if (!monitor) {
            stopped(lostError_);
            return;
        }
        std::string error;
        current_ = open(*monitor, error);
        if (!current_) stopped(error);
        return;
    }
    if (!monitor) return;  // nothing else to record; keep what still delivers
    if (*monitor == current_->monitor) {
        dropNext();  // switched back before the new device delivered
        return;
    }
    if (next_ && next_->monitor == *monitor) return;
    dropNext();
    std::string error;
    next_ = open(*monitor, error);  // refused: stay on the device we have
}

void CaptureSession::serverLost(const std::string& error) {
    stopped(error);
}

}  // namespace lumory::audio
