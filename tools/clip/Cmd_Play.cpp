// ospry-clip play: plays a file headless through the real engine for a while
// and reports what was presented when.
//
// Per channel: a file player (in synchronised play one player carries every
// channel), the decoder router, and a render throttle whose renderer only
// notes each presented picture (followed by the real renderer into a window
// per channel with --window). --sound plays the first channel's audio on
// PulseAudio (PlayOutputs.h).
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "tools/clip/ClipFileOpen.h"
#include "tools/clip/Commands.h"
#include "tools/clip/PlayOutputs.h"
#include "viewer/decoding/U_DecoderRouter.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"

namespace ospry::clip {
namespace {

constexpr const char* kStampPattern = "yyyy/mm/dd hh:nn:ss.zzz";
// Pushed pictures remembered per channel until presented: the renderer gets
// a picture's sequence number (through the frame type, which drawing ignores)
// and looks its stamp up here.
constexpr std::size_t kTagRing = 8192;

struct TPlayOptions {
  std::string file;
  double speed = 1;
  double seconds = 10;
  std::string at;
  bool sound = false;
  bool trace = false;
  bool window = false;
};

using TSteady = std::chrono::steady_clock;

// What one channel presented. Written by the channel's render thread (and by
// the player thread, which tags pushes); lock guards everything.
struct TChannelStats {
  std::mutex lock;
  std::array<TDateTime, kTagRing> tagStamps{};  // guarded by lock
  std::int32_t nextTag = 0;                     // guarded by lock
  std::int64_t decoded = 0;                     // guarded by lock: pictures pushed
  std::int64_t presented = 0;                   // guarded by lock
  std::int64_t late = 0;                        // guarded by lock
  bool hasReference = false;                    // guarded by lock
  TSteady::time_point referenceWall;            // guarded by lock
  TDateTime referenceStamp = 0;                 // guarded by lock
  TDateTime previousStamp = 0;                  // guarded by lock
  double intervalMs = 40;                       // guarded by lock: last stamp gap
};

struct TSession {
  TSteady::time_point start = TSteady::now();
  double speed = 1;
  bool trace = false;
  std::mutex outputLock;
};

// Notes each presented picture: its stamp, and whether it came more than one
// frame interval after it was due. Due times count from the first picture
// presented (and again after a seek or a jump of the stamps).
class TTraceRenderer final : public IYuvRenderer {
public:
  TTraceRenderer(int channel, TChannelStats& stats, TSession& session)
      : channel_(channel), stats_(stats), session_(session) {}

  void DrawFrame(const std::uint8_t*, int width, int height, int frameType, TWindowHandle) override {
    const auto now = TSteady::now();
    TDateTime stamp;
    {
      std::lock_guard<std::mutex> guard(stats_.lock);
      stamp = stats_.tagStamps[static_cast<std::size_t>(frameType) % kTagRing];
      ++stats_.presented;
      const double gapMs = std::abs(stamp - stats_.previousStamp) * kMsPerDay;
      if (stats_.hasReference && gapMs > 0 && gapMs < 10000) stats_.intervalMs = gapMs;
      const double sinceMs = (stamp - stats_.referenceStamp) * kMsPerDay / session_.speed;
      if (!stats_.hasReference || sinceMs < 0 || gapMs >= 10000) {
        stats_.hasReference = true;
        stats_.referenceWall = now;
        stats_.referenceStamp = stamp;
      } else {
        const double wallMs = std::chrono::duration<double, std::milli>(now - stats_.referenceWall).count();
        if (wallMs - sinceMs > stats_.intervalMs / std::abs(session_.speed)) ++stats_.late;
      }
      stats_.previousStamp = stamp;
    }
    if (session_.trace) {
      const auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(now - session_.start).count();
      std::lock_guard<std::mutex> guard(session_.outputLock);
      std::cout << sinceStart << " " << channel_ << " " << FormatDateTime("hh:nn:ss.zzz", stamp) << " " << width
                << "x" << height << "\n";
    }
  }
  void Repaint() override {}

private:
  const int channel_;
  TChannelStats& stats_;
  TSession& session_;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Run(const TPlayOptions& options) {
  OverrideSeparators('/', ':');
  TDateTime at = kNoTime;
  if (!options.at.empty() && !ParseDateTime(kStampPattern, options.at, at)) {
    std::cerr << "play: --at must look like \"" << kStampPattern << "\"\n";
    return 2;
  }
  if (options.speed == 0 || std::abs(options.speed) > 16) {
    std::cerr << "play: --speed must lie in -16..16 and not be 0\n";
    return 2;
  }
  std::string outputError;
  const auto outputs = TPlayOutputs::Make({options.file, options.window, options.sound}, outputError);
  if (!outputs) {
    std::cerr << "play: " << outputError << "\n";
    return 1;
  }
  TOpenedFile opened = OpenClipFile(options.file);
  if (opened.Sources.empty()) {
    std::cerr << "play: " << options.file << ": " << opened.Error << "\n";
    return 1;
  }
  // A play list plays its clips one after another in one view; otherwise
  // every clip has a view of its own.
  const bool playList = opened.MultiClip && !opened.SyncPlay;
  if (playList) {
    for (auto& source : opened.Sources) source->SetSourceId(0);
  }
  const int channels = playList ? 1 : static_cast<int>(opened.Sources.size());

  TSession session;
  session.speed = options.speed;
  session.trace = options.trace;
  std::vector<std::unique_ptr<TChannelStats>> stats;
  std::vector<std::unique_ptr<TRenderThrottle>> throttles;
  TDecoderRouter router;
  for (int channel = 0; channel < channels; ++channel) {
    stats.push_back(std::make_unique<TChannelStats>());
    TChannelStats* channelStats = stats.back().get();
    TWaveOutputFactory wave;
    if (options.sound && channel == 0) wave = outputs->Wave();
    throttles.push_back(std::make_unique<TRenderThrottle>(
        outputs->Renderer(channel,
                          [channel, channelStats, &session] {
                            return std::make_unique<TTraceRenderer>(channel, *channelStats, session);
                          }),
        wave));
    throttles.back()->SetSpeed(options.speed);
    router.AddChannel(channel, outputs->Window(channel));
  }
  router.SetSound(options.sound);
  router.SelectSoundChannel(0);
  router.SetOnFrame([&](int channel, const TFrameInfo& info, const std::uint8_t* payload) {
    if (channel < 0 || channel >= channels) return;
    TFrameInfo tagged = info;
    if (!info.IsAudio) {
      TChannelStats& channelStats = *stats[channel];
      std::lock_guard<std::mutex> guard(channelStats.lock);
      ++channelStats.decoded;
      tagged.FrameType = channelStats.nextTag;
      channelStats.tagStamps[static_cast<std::size_t>(channelStats.nextTag) % kTagRing] = info.Stamp;
      channelStats.nextTag = (channelStats.nextTag + 1) % static_cast<std::int32_t>(kTagRing);
    }
    throttles[channel]->Push(tagged, payload);
  });

  // One player per channel, or one for every channel in synchronised play.
  std::vector<std::unique_ptr<TFilePlayer>> players;
  std::atomic<int> endedPlayers{0};
  for (int channel = 0; channel < channels; ++channel) {
    if (opened.SyncPlay && channel > 0) {
      players.front()->AddSource(opened.Sources[channel].get());
      continue;
    }
    players.push_back(std::make_unique<TFilePlayer>(opened.Sources[channel].get()));
  }
  // Play list: the clip-end handler (player thread, no player lock held)
  // moves on to the next clip.
  std::size_t playListClip = 0;
  for (auto& player : players) {
    TFilePlayer* raw = player.get();
    raw->SetOnFrame([&router](std::int32_t sourceId, const TFrameHeader& header, const std::uint8_t* data) {
      router.DeliverFrame(sourceId, header, data);
    });
    raw->SetOnFlush([&, raw, sync = opened.SyncPlay] {
      if (raw->LastFlushReason() == TFilePlayer::TFlushReason::kTargetReached) {
        for (auto& throttle : throttles) throttle->RenderAllPending();
        return;
      }
      router.OnFlush(sync, 0);
      for (auto& throttle : throttles) throttle->Flush();
    });
    raw->SetOnClipEnd([&, raw, ended = std::make_shared<std::atomic<bool>>(false)](
                          IVideoSourcePlayer*, IQuernBasicSource*, bool) {
      if (playList && playListClip + 1 < opened.Sources.size()) {
        raw->RemoveAllSources();
        raw->AddSource(opened.Sources[++playListClip].get());
        raw->Play();
        return;
      }
      if (!ended->exchange(true)) ++endedPlayers;
    });
    if (!raw->SetSpeed(options.speed)) {
      std::cerr << "play: the file cannot be played at speed " << options.speed << "\n";
      return 1;
    }
    if (at != kNoTime) raw->Seek(at);
  }
  // Backward play without a start time starts at the end of the first clip.
  if (at == kNoTime && options.speed < 0) {
    TTimeSegments segments;
    opened.Sources.front()->GetSegments(segments);
    if (!segments.empty()) {
      for (auto& player : players) player->Seek(segments.back().End);
    }
  }

  const double cpuBefore = CpuSeconds();
  session.start = TSteady::now();
  for (auto& player : players) player->Play();
  const auto deadline = session.start + std::chrono::duration<double>(options.seconds);
  while (TSteady::now() < deadline && endedPlayers.load() < static_cast<int>(players.size())) {
    if (!outputs->Wait(20)) break;  // every window was closed
  }
  const double wallSeconds = std::chrono::duration<double>(TSteady::now() - session.start).count();
  // Players first (no more frames), then the throttles' render threads.
  players.clear();
  throttles.clear();
  const double cpuSeconds = CpuSeconds() - cpuBefore;

  std::cout << "channel decoded presented late\n";
  std::int64_t totalPresented = 0, totalLate = 0;
  for (int channel = 0; channel < channels; ++channel) {
    std::lock_guard<std::mutex> guard(stats[channel]->lock);
    std::cout << channel << " " << stats[channel]->decoded << " " << stats[channel]->presented << " "
              << stats[channel]->late << "\n";
    totalPresented += stats[channel]->presented;
    totalLate += stats[channel]->late;
  }
  std::cout << std::fixed << std::setprecision(2) << "total " << totalPresented << " presented, " << totalLate
            << " late in " << wallSeconds << " s; CPU " << cpuSeconds << " s (" << cpuSeconds / wallSeconds
            << " cores)\n";
  outputs->WriteSummary(std::cout);
  return 0;
}

TRegisterCommand reg([](CLI::App& app) {
  auto options = std::make_shared<TPlayOptions>();
  CLI::App* command = app.add_subcommand("play", "Play a file through the engine (headless unless --window) and report timing");
  command->add_option("file", options->file, "Clip package, clip file, multi-clip file or MPEG file")->required();
  command->add_option("--speed", options->speed, "Speed: 1 normal, negative backward (-16..16)");
  command->add_option("--seconds", options->seconds, "Wall time to play, in seconds")->check(CLI::PositiveNumber);
  command->add_option("--at", options->at,
                      "Start time, \"yyyy/mm/dd hh:nn:ss.zzz\" (backward play starts at the end without it)");
  command->add_flag("--sound", options->sound, "Play the first channel's audio (PulseAudio)");
  command->add_flag("--window", options->window, "Show each channel in a window of its own");
  command->add_flag("--trace", options->trace, "One line per picture presented");
  command->callback([options] { SetExitCode(Run(*options)); });
});

}  // namespace
}  // namespace ospry::clip
