#include "pulse_audio_source.h"

#include <cstdint>
#include <span>
#include <utility>

namespace lumory::audio {

namespace {

// Bounds every wait for the server outside the event loop, so `status` cannot hang.
constexpr std::chrono::milliseconds kServerAnswerTimeout{5000};

bool contextSettled(pa_context* context) {
    pa_context_state_t state = pa_context_get_state(context);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

}  // namespace

PulseAudioSource::PulseAudioSource() = default;

PulseAudioSource::~PulseAudioSource() {
    for (auto& [id, recording] : recordings_) {
        pa_stream_set_state_callback(recording->stream, nullptr, nullptr);
        pa_stream_set_read_callback(recording->stream, nullptr, nullptr);
        pa_stream_disconnect(recording->stream);
        pa_stream_unref(recording->stream);
    }
    for (auto& recording : retired_) pa_stream_unref(recording->stream);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (mainloop_ != nullptr) pa_mainloop_free(mainloop_);
}

std::string PulseAudioSource::lastError() const {
    return pa_strerror(pa_context_errno(context_));
}

bool PulseAudioSource::iterateUntil(const std::function<bool()>& done,
                                    std::chrono::milliseconds timeout) {
    pa_mainloop_api* api = pa_mainloop_get_api(mainloop_);
    bool timedOut = false;
    timeval deadline;
    pa_gettimeofday(&deadline);
    pa_timeval_add(&deadline, static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC);
    pa_time_event* timer = api->time_new(
        api, &deadline,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* flag) {
            *static_cast<bool*>(flag) = true;
        },
        &timedOut);
    while (!done() && !timedOut) {
        if (pa_mainloop_iterate(mainloop_, 1, nullptr) < 0) break;
    }
    api->time_free(timer);
    return done();
}

std::optional<std::string> PulseAudioSource::connect() {
    if (context_ != nullptr) {
        if (pa_context_get_state(context_) == PA_CONTEXT_READY) return std::nullopt;
        return lastError();
    }
    mainloop_ = pa_mainloop_new();
    if (mainloop_ == nullptr) return std::string("could not create a main loop");

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Lumory audio helper");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "lumory-audio");
    context_ = pa_context_new_with_proplist(pa_mainloop_get_api(mainloop_), "lumory-audio",
                                            properties);
    pa_proplist_free(properties);
    if (context_ == nullptr) return std::string("could not create a sound server context");
    pa_context_set_state_callback(context_, contextStateChanged, this);

    // Never start a server of our own: asking must not change the system.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return lastError();
    }
    if (!iterateUntil([this] { return contextSettled(context_); }, kServerAnswerTimeout)) {
        return std::string("the sound server did not answer");
    }
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) return lastError();
    return std::nullopt;
}

std::optional<std::string> PulseAudioSource::defaultMonitor() {
    if (context_ == nullptr || pa_context_get_state(context_) != PA_CONTEXT_READY) {
        return std::nullopt;
    }
    resolved_.reset();
    resolveDefaultMonitor();
    // A connection lost meanwhile cancels the lookup without an answer.
    iterateUntil(
        [this] {
            return resolved_.has_value() || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        },
        kServerAnswerTimeout);
    return resolved_ ? *resolved_ : std::nullopt;
}

void PulseAudioSource::refreshDefaultMonitor() {
    resolveDefaultMonitor();
}

void PulseAudioSource::resolveDefaultMonitor() {
    pa_operation* operation = pa_context_get_server_info(context_, serverInfoArrived, this);
    if (operation == nullptr) {
        monitorResolved(std::nullopt);
        return;
    }
    pa_operation_unref(operation);
}

void PulseAudioSource::serverInfoArrived(pa_context* context, const pa_server_info* info,
                                         void* userdata) {
    auto* self = static_cast<PulseAudioSource*>(userdata);
    if (info == nullptr || info->default_sink_name == nullptr || *info->default_sink_name == 0) {
        self->monitorResolved(std::nullopt);
        return;
    }
    pa_operation* operation = pa_context_get_sink_info_by_name(context, info->default_sink_name,
                                                               sinkInfoArrived, self);
    if (operation == nullptr) {
        self->monitorResolved(std::nullopt);
        return;
    }
    pa_operation_unref(operation);
}

void PulseAudioSource::sinkInfoArrived(pa_context*, const pa_sink_info* info, int eol,
                                       void* userdata) {
    auto* self = static_cast<PulseAudioSource*>(userdata);
    if (eol == 0) {
        if (info != nullptr && info->monitor_source_name != nullptr) {
            self->sinkMonitor_ = info->monitor_source_name;
        }
        return;
    }
    self->monitorResolved(std::exchange(self->sinkMonitor_, std::nullopt));
}

void PulseAudioSource::monitorResolved(std::optional<std::string> monitor) {
    if (events_ != nullptr) {
        events_->defaultMonitorChanged(monitor);
    } else {
        resolved_ = std::move(monitor);
    }
}

Result<StreamId> PulseAudioSource::openRecording(const std::string& monitor,
                                                 const RecordingFormat& format) {
    if (context_ == nullptr) return {std::nullopt, "not connected to the sound server"};
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = static_cast<std::uint32_t>(format.sampleRate);
    spec.channels = static_cast<std::uint8_t>(format.channels);
    if (!pa_sample_spec_valid(&spec)) return {std::nullopt, pa_strerror(PA_ERR_INVALID)};
    pa_channel_map channels;
    pa_channel_map_init_extend(&channels, spec.channels, PA_CHANNEL_MAP_DEFAULT);

    pa_stream* stream = pa_stream_new(context_, "system audio", &spec, &channels);
    if (stream == nullptr) return {std::nullopt, lastError()};
    auto recording = std::make_unique<Recording>(Recording{this, nextId_++, stream, false});
    pa_stream_set_state_callback(stream, streamStateChanged, recording.get());
    pa_stream_set_read_callback(stream, streamReadable, recording.get());

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(
        static_cast<pa_usec_t>(format.fragmentMilliseconds) * PA_USEC_PER_MSEC, &spec));
    // DONT_MOVE: when the device goes away the stream ends and we choose the next one, rather
    // than the server moving us onto a microphone.
    auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, monitor.c_str(), &attributes, flags) < 0) {
        std::string error = lastError();
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        return {std::nullopt, error};
    }
    StreamId id = recording->id;
    recordings_.emplace(id, std::move(recording));
    return {id, {}};
}

void PulseAudioSource::closeRecording(StreamId stream) {
    auto found = recordings_.find(stream);
    if (found == recordings_.end()) return;
    std::unique_ptr<Recording> recording = std::move(found->second);
    recordings_.erase(found);
    pa_stream_set_state_callback(recording->stream, nullptr, nullptr);
    pa_stream_set_read_callback(recording->stream, nullptr, nullptr);
    pa_stream_disconnect(recording->stream);
    recording->closed = true;
    retire(std::move(recording));
}

void PulseAudioSource::retire(std::unique_ptr<Recording> recording) {
    retired_.push_back(std::move(recording));
    if (purge_ == nullptr) {
        pa_mainloop_api* api = pa_mainloop_get_api(mainloop_);
        purge_ = api->defer_new(api, purgeRetired, this);
    }
}

void PulseAudioSource::purgeRetired(pa_mainloop_api* api, pa_defer_event* event, void* userdata) {
    auto* self = static_cast<PulseAudioSource*>(userdata);
    for (auto& recording : self->retired_) pa_stream_unref(recording->stream);
    self->retired_.clear();
    api->defer_free(event);
    self->purge_ = nullptr;
}

void PulseAudioSource::run(AudioSourceEvents& events) {
    if (context_ == nullptr) {
        events.serverLost("not connected to the sound server");
        return;
    }
    events_ = &events;
    quitting_ = false;
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        serverLostReported_ = true;
        events.serverLost(lastError());
    } else {
        pa_context_set_subscribe_callback(context_, serverEvent, this);
        pa_operation* operation =
            pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
        if (operation != nullptr) pa_operation_unref(operation);
        // A change between the first lookup and the subscription would otherwise go unseen.
        resolveDefaultMonitor();
    }
    if (!quitting_) pa_mainloop_run(mainloop_, nullptr);
    events_ = nullptr;
}

void PulseAudioSource::quit() {
    quitting_ = true;
    if (mainloop_ != nullptr) pa_mainloop_quit(mainloop_, 0);
}

void PulseAudioSource::contextStateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseAudioSource*>(userdata);
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) return;
    if (self->events_ == nullptr || self->serverLostReported_) return;
    self->serverLostReported_ = true;
    self->events_->serverLost(self->lastError());
}

void PulseAudioSource::serverEvent(pa_context*, pa_subscription_event_type_t type, uint32_t,
                                   void* userdata) {
    auto* self = static_cast<PulseAudioSource*>(userdata);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
        self->resolveDefaultMonitor();
    }
}

void PulseAudioSource::streamStateChanged(pa_stream* stream, void* userdata) {
    auto* recording = static_cast<Recording*>(userdata);
    PulseAudioSource* self = recording->owner;
    if (self->events_ == nullptr || self->serverLostReported_) return;
    // A stream fails along with its connection; the connection reports that once.
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(self->context_))) return;
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        self->events_->streamStarted(recording->id);
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        self->events_->streamFailed(recording->id, self->lastError());
        break;
    default:
        break;
    }
}

void PulseAudioSource::streamReadable(pa_stream* stream, size_t, void* userdata) {
    auto* recording = static_cast<Recording*>(userdata);
    PulseAudioSource* self = recording->owner;
    while (!recording->closed && !self->quitting_) {
        const void* data = nullptr;
        size_t size = 0;
        if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) return;
        // A hole (no data) carries nothing to record; it is dropped like any other buffer.
        if (data != nullptr && self->events_ != nullptr) {
            self->events_->samplesDelivered(
                recording->id, std::span(static_cast<const std::byte*>(data), size));
        }
        if (recording->closed) return;
        pa_stream_drop(stream);
    }
}

}  // namespace lumory::audio
