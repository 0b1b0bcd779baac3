#include "viewer/playback/U_WaveVolume.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace ospry {

namespace {

constexpr std::uint32_t kNoDeviceVolume = 0x0000FFFF;
constexpr auto kTimeout = std::chrono::seconds(3);

// 0..65535 <-> 0..PA_VOLUME_NORM, rounded so that every word survives a round
// trip. Volumes above 100 % read as 65535.
pa_volume_t WordToVolume(std::uint32_t word) {
  return static_cast<pa_volume_t>((std::uint64_t{word} * PA_VOLUME_NORM + 32767) / 65535);
}
std::uint32_t VolumeToWord(pa_volume_t volume) {
  const std::uint64_t word = (std::uint64_t{volume} * 65535 + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(word, 65535));
}

// A blocking client on the calling thread: a plain main loop iterated until
// the awaited answer arrives or the deadline passes.
class TPulseQuery {
public:
  explicit TPulseQuery(const std::string& server)
      : deadline_(std::chrono::steady_clock::now() + kTimeout) {
    loop_ = pa_mainloop_new();
    if (!loop_) return;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Ospry volume");
    if (!context_) return;
    if (pa_context_connect(context_, server.empty() ? nullptr : server.c_str(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      return;
    Run([this] {
      const pa_context_state_t s = pa_context_get_state(context_);
      return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    ready_ = pa_context_get_state(context_) == PA_CONTEXT_READY;
  }
  ~TPulseQuery() {
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_) pa_mainloop_free(loop_);
  }

  bool Ready() const { return ready_; }
  pa_context* Context() const { return context_; }

  // Iterates the loop until done() or the deadline; false on timeout or a
  // broken connection.
  template <class TDone>
  bool Run(TDone done) {
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline_) return false;
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return false;
      if (pa_mainloop_prepare(loop_, 50 * 1000) < 0 || pa_mainloop_poll(loop_) < 0 ||
          pa_mainloop_dispatch(loop_) < 0)
        return false;
    }
    return true;
  }

  // Runs op to completion.
  bool Finish(pa_operation* op) {
    if (!op) return false;
    const bool finished =
        Run([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (!finished) pa_operation_cancel(op);
    pa_operation_unref(op);
    return finished;
  }

private:
  std::chrono::steady_clock::time_point deadline_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool ready_ = false;
};

struct TSinkState {
  bool found = false;
  pa_cvolume volume{};
  pa_channel_map map{};
  std::string name;
};

// Reads the default sink's name, volume and channel map.
bool ReadDefaultSink(TPulseQuery& query, TSinkState& sink) {
  std::string name;
  bool haveName = false;
  auto onServer = [](pa_context*, const pa_server_info* info, void* user) {
    auto* state = static_cast<std::pair<std::string*, bool*>*>(user);
    if (info && info->default_sink_name) {
      *state->first = info->default_sink_name;
      *state->second = true;
    }
  };
  std::pair<std::string*, bool*> serverState{&name, &haveName};
  if (!query.Finish(pa_context_get_server_info(query.Context(), onServer, &serverState)) ||
      !haveName)
    return false;
  auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* user) {
    auto* state = static_cast<TSinkState*>(user);
    if (eol == 0 && info) {
      state->found = true;
      state->volume = info->volume;
      state->map = info->channel_map;
    }
  };
  sink.name = name;
  return query.Finish(
             pa_context_get_sink_info_by_name(query.Context(), name.c_str(), onSink, &sink)) &&
         sink.found && sink.volume.channels > 0;
}

pa_volume_t SideVolume(const TSinkState& sink, pa_channel_position_t side, unsigned fallback) {
  if (sink.volume.channels == 1) return sink.volume.values[0];
  if (pa_channel_map_has_position(&sink.map, side))
    return pa_cvolume_get_position(&sink.volume, &sink.map, side);
  return sink.volume.values[std::min<unsigned>(fallback, sink.volume.channels - 1)];
}

}  // namespace

std::uint32_t GetWaveVolume(const std::string& server) {
  try {
    TPulseQuery query(server);
    TSinkState sink;
    if (!query.Ready() || !ReadDefaultSink(query, sink)) return kNoDeviceVolume;
    const std::uint32_t left = VolumeToWord(SideVolume(sink, PA_CHANNEL_POSITION_FRONT_LEFT, 0));
    const std::uint32_t right = VolumeToWord(SideVolume(sink, PA_CHANNEL_POSITION_FRONT_RIGHT, 1));
    return left | (right << 16);
  } catch (...) {
    return kNoDeviceVolume;
  }
}

bool SetWaveVolume(std::uint32_t volume, const std::string& server) {
  try {
    TPulseQuery query(server);
    TSinkState sink;
    if (!query.Ready() || !ReadDefaultSink(query, sink)) return false;
    const pa_volume_t left = WordToVolume(volume & 0xFFFF);
    const pa_volume_t right = WordToVolume(volume >> 16);
    pa_cvolume target = sink.volume;
    if (target.channels == 1) {
      target.values[0] = std::max(left, right);
    } else {
      // Channels that are neither left nor right (centre, LFE) take the
      // louder side; the front and rear pairs follow their side.
      pa_cvolume_set(&target, target.channels, std::max(left, right));
      for (unsigned i = 0; i < target.channels; ++i) {
        switch (sink.map.map[i]) {
          case PA_CHANNEL_POSITION_FRONT_LEFT:
          case PA_CHANNEL_POSITION_REAR_LEFT:
          case PA_CHANNEL_POSITION_SIDE_LEFT:
          case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
            target.values[i] = left;
            break;
          case PA_CHANNEL_POSITION_FRONT_RIGHT:
          case PA_CHANNEL_POSITION_REAR_RIGHT:
          case PA_CHANNEL_POSITION_SIDE_RIGHT:
          case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
            target.values[i] = right;
            break;
          default:
            break;
        }
      }
    }
    int success = 0;
    auto onDone = [](pa_context*, int ok, void* user) { *static_cast<int*>(user) = ok; };
    return query.Finish(pa_context_set_sink_volume_by_name(query.Context(), sink.name.c_str(),
                                                           &target, onDone, &success)) &&
           success != 0;
  } catch (...) {
    return false;
  }
}

}  // namespace ospry
