#include "viewer/playback/U_WaveStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace ospry {

namespace {

constexpr int kConnectTimeoutMs = 5000;
// Drain waits for the queued audio plus this much for a server that stalls.
constexpr int kDrainSlackMs = 3000;
// The most audio the server queues for a stream (its default maximum).
constexpr std::uint64_t kMaxQueuedBytes = 4u << 20;

}  // namespace

// One connection to the server with at most one playback stream, run by a
// threaded main loop. Not thread-safe: TWaveStream calls it under its lock.
// The loop's callbacks only signal the loop's condition.
class TPulseConnection {
public:
  ~TPulseConnection() {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    DropStream();
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }

  // Connects (or checks the existing connection). False on failure.
  bool Connect(const std::string& server) {
    if (!loop_) {
      loop_ = pa_threaded_mainloop_new();
      if (!loop_) return false;
      pa_threaded_mainloop_set_name(loop_, "ospry-pulse");
      if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        return false;
      }
    }
    pa_threaded_mainloop_lock(loop_);
    bool ready = context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (!ready) {
      if (context_) {
        DropStream();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
      }
      context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Ospry");
      if (context_) {
        pa_context_set_state_callback(context_, &TPulseConnection::Signal, this);
        if (pa_context_connect(context_, server.empty() ? nullptr : server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
          WaitLocked(
              [this] {
                const pa_context_state_t s = pa_context_get_state(context_);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
              },
              kConnectTimeoutMs);
          ready = pa_context_get_state(context_) == PA_CONTEXT_READY;
        }
      }
    }
    pa_threaded_mainloop_unlock(loop_);
    return ready;
  }

  // Opens the playback stream on the default sink. False when refused.
  bool OpenStream(const pa_sample_spec& settings) {
    pa_threaded_mainloop_lock(loop_);
    DropStream();
    bytesPerSecond_ = pa_bytes_per_second(&settings);
    stream_ = pa_stream_new(context_, "Ospry playback", &settings, nullptr);
    bool ready = false;
    if (stream_) {
      pa_stream_set_state_callback(stream_, &TPulseConnection::StreamSignal, this);
      // A short target latency and a small prebuffer, so that sound starts
      // with the first blocks instead of after seconds of queued audio.
      pa_buffer_attr attr;
      attr.maxlength = static_cast<std::uint32_t>(-1);
      attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(200 * PA_USEC_PER_MSEC, &settings));
      attr.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(40 * PA_USEC_PER_MSEC, &settings));
      attr.minreq = static_cast<std::uint32_t>(-1);
      attr.fragsize = static_cast<std::uint32_t>(-1);
      if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                     nullptr) >= 0) {
        WaitLocked(
            [this] {
              const pa_stream_state_t s = pa_stream_get_state(stream_);
              return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
            },
            kConnectTimeoutMs);
        ready = pa_stream_get_state(stream_) == PA_STREAM_READY;
      }
      if (!ready) DropStream();
    }
    queuedBytes_ = 0;
    pa_threaded_mainloop_unlock(loop_);
    return ready;
  }

  // The server copies the bytes; the result is not checked.
  void Queue(const std::uint8_t* data, std::size_t size) {
    pa_threaded_mainloop_lock(loop_);
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
      pa_stream_write(stream_, data, size, nullptr, 0, PA_SEEK_RELATIVE);
      queuedBytes_ = std::min<std::uint64_t>(queuedBytes_ + size, kMaxQueuedBytes);
    }
    pa_threaded_mainloop_unlock(loop_);
  }

  // Waits until the queued audio has played, then drops the stream.
  void DrainAndCloseStream() {
    pa_threaded_mainloop_lock(loop_);
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY && queuedBytes_ > 0) {
      drained_ = false;
      pa_operation* op = pa_stream_drain(stream_, &TPulseConnection::DrainDone, this);
      if (op) {
        const std::uint64_t queuedMs =
            bytesPerSecond_ ? queuedBytes_ * 1000 / bytesPerSecond_ : 0;
        WaitLocked(
            [this] {
              return drained_ || !stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
            },
            static_cast<int>(queuedMs) + kDrainSlackMs);
        pa_operation_cancel(op);  // no effect once done; stops a stalled drain
        pa_operation_unref(op);
      }
    }
    DropStream();
    pa_threaded_mainloop_unlock(loop_);
  }

private:
  static void Signal(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<TPulseConnection*>(self)->loop_, 0);
  }
  static void StreamSignal(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<TPulseConnection*>(self)->loop_, 0);
  }
  static void DrainDone(pa_stream*, int, void* self) {
    auto* connection = static_cast<TPulseConnection*>(self);
    connection->drained_ = true;
    pa_threaded_mainloop_signal(connection->loop_, 0);
  }
  static void TimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* connection = static_cast<TPulseConnection*>(self);
    connection->timedOut_ = true;
    pa_threaded_mainloop_signal(connection->loop_, 0);
  }

  // With the loop locked: waits until done() or timeoutMs have passed.
  template <class TDone>
  void WaitLocked(TDone done, int timeoutMs) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    struct timeval deadline;
    pa_gettimeofday(&deadline);
    pa_timeval_add(&deadline, static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC);
    timedOut_ = false;
    pa_time_event* timer = api->time_new(api, &deadline, &TPulseConnection::TimedOut, this);
    while (!done() && !timedOut_) pa_threaded_mainloop_wait(loop_);
    if (timer) api->time_free(timer);
  }

  // With the loop locked.
  void DropStream() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  pa_threaded_mainloop* loop_ = nullptr;
  // The fields below are touched with the loop locked (the loop's own thread
  // runs the callbacks locked as well).
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool drained_ = false;
  bool timedOut_ = false;
  std::uint64_t queuedBytes_ = 0;  // bounded by what the server can hold
  std::size_t bytesPerSecond_ = 0;
};

// ---------------------------------------------------------------------------

TWaveStream::TWaveStream(std::string server) : server_(std::move(server)) {}

TWaveStream::~TWaveStream() { Close(); }

bool TWaveStream::Open(const TWaveFormat& format) {
  std::lock_guard<std::mutex> guard(lock_);
  CloseLocked();
  pa_sample_spec settings;
  settings.format = format.bitsPerSample == 16 ? PA_SAMPLE_S16LE
                : format.bitsPerSample == 8 ? PA_SAMPLE_U8
                                            : PA_SAMPLE_INVALID;
  settings.rate = format.sampleRate > 0 ? static_cast<std::uint32_t>(format.sampleRate) : 0;
  settings.channels = format.channels > 0 && format.channels <= static_cast<int>(PA_CHANNELS_MAX)
                      ? static_cast<std::uint8_t>(format.channels)
                      : 0;
  if (!pa_sample_spec_valid(&settings)) return false;
  try {
    if (!connection_) connection_ = std::make_unique<TPulseConnection>();
  } catch (...) {
    return false;
  }
  if (!connection_->Connect(server_) || !connection_->OpenStream(settings)) return false;
  opened_ = true;
  current_ = 0;
  previous_ = 0;
  firstBlock_ = true;
  return true;
}

void TWaveStream::Write(const std::uint8_t* samples, std::int32_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!opened_ || !samples || size <= 0) return;
  const int i = current_;
  try {
    buffers_[i].resize(static_cast<std::size_t>(size));  // keeps capacity when shrinking
  } catch (...) {
    return;  // no memory for this block: it is dropped
  }
  std::memcpy(buffers_[i].data(), samples, static_cast<std::size_t>(size));
  if (firstBlock_)
    firstBlock_ = false;
  else
    connection_->Queue(buffers_[previous_].data(), buffers_[previous_].size());
  previous_ = i;
  current_ = (i + 1) % kBlockCount;
}

void TWaveStream::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  CloseLocked();
}

void TWaveStream::CloseLocked() {
  if (!opened_) return;
  connection_->DrainAndCloseStream();
  opened_ = false;
}

bool TWaveStream::IsOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return opened_;
}

TWaveOutputFactory MakeWaveStreamFactory() {
  return []() -> std::unique_ptr<IWaveOutput> { return std::make_unique<TWaveStream>(); };
}

}  // namespace ospry
