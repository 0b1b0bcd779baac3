// ospry-clip play: plays a file headless through the real engine for a while
// and reports what was presented when.
//
// Pull sources (clip files, packages, multi-clip files, MPEG files), per
// channel: a file player (in synchronised play one player carries every
// channel), the decoder router, and a render throttle whose renderer only
// notes each presented picture. --sound decodes the first channel's audio
// into a wave output that plays nothing. The players are started the way the
// viewer starts them: sources at their start (or at their end for backward
// play), the throttle's speed set, then PlayAtSpeed.
//
// Raw vendor files: the vendor library plays them by itself; the command
// drives the raw vendor file source through a stream player, hands the
// library renderers that count what it draws, and reports the source's
// position reports.
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
#include "viewer/decoding/U_DecoderRouter.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"
#include "viewer/playback/U_StreamPlayer.h"

namespace ospry::clip {
namespace {

constexpr const char* kStampPattern = "yyyy/mm/dd hh:nn:ss.zzz";
constexpr const char* kTraceStampPattern = "hh:nn:ss.zzz";
// Pushed pictures remembered per channel until presented: the renderer gets
// a picture's sequence number (through the frame type, which drawing ignores)
// and looks its stamp up here.
constexpr std::size_t kTagRing = 8192;
// The vendor library's speed notches: 2^-4 .. 2^4.
constexpr int kMaxVendorNotch = 4;

struct TPlayOptions {
  std::string file;
  double speed = 1;
  double seconds = 10;
  std::string at;
  bool sound = false;
  bool trace = false;
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
  int width = 0;                                // guarded by lock: last picture drawn
  int height = 0;                               // guarded by lock
};

// Shared by every thread that reports; outputLock serialises the trace lines.
struct TSession {
  TSteady::time_point start = TSteady::now();
  double speed = 1;
  bool trace = false;
  std::mutex outputLock;

  std::int64_t SinceStartMs(TSteady::time_point now) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
  }
};

// Notes each presented picture: its stamp, and whether it came more than one
// frame interval after it was due. Due times count from the first picture
// presented (and again after a seek or a jump of the stamps). Called on the
// channel's render thread (or the player thread, while paused).
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
      stats_.width = width;
      stats_.height = height;
      if (session_.speed != 0) NoteLateness(now, stamp);
      stats_.previousStamp = stamp;
    }
    if (session_.trace) {
      std::lock_guard<std::mutex> guard(session_.outputLock);
      std::cout << session_.SinceStartMs(now) << " " << channel_ << " " << FormatDateTime(kTraceStampPattern, stamp)
                << " " << width << "x" << height << "\n";
    }
  }
  void Repaint() override {}

private:
  void NoteLateness(TSteady::time_point now, TDateTime stamp) {  // under stats_.lock
    const double gapMs = std::abs(stamp - stats_.previousStamp) * kMsPerDay;
    if (stats_.hasReference && gapMs > 0 && gapMs < 10000) stats_.intervalMs = gapMs;
    const double sinceMs = (stamp - stats_.referenceStamp) * kMsPerDay / session_.speed;
    if (!stats_.hasReference || sinceMs < 0 || gapMs >= 10000) {
      stats_.hasReference = true;
      stats_.referenceWall = now;
      stats_.referenceStamp = stamp;
      return;
    }
    const double wallMs = std::chrono::duration<double, std::milli>(now - stats_.referenceWall).count();
    if (wallMs - sinceMs > stats_.intervalMs / std::abs(session_.speed)) ++stats_.late;
  }

  const int channel_;
  TChannelStats& stats_;
  TSession& session_;
};

// Counts what the vendor library draws; it knows no stamps. Called on the
// library's threads.
class TCountingRenderer final : public IYuvRenderer {
public:
  explicit TCountingRenderer(TChannelStats& stats) : stats_(stats) {}
  void DrawFrame(const std::uint8_t*, int width, int height, int, TWindowHandle) override {
    std::lock_guard<std::mutex> guard(stats_.lock);
    ++stats_.presented;
    stats_.width = width;
    stats_.height = height;
  }
  void Repaint() override {}

private:
  TChannelStats& stats_;
};

// Accepts sound and plays nothing.
class TSilentWave final : public IWaveOutput {
public:
  bool Open(const TWaveFormat&) override { return open_ = true; }
  void Write(const std::uint8_t*, std::int32_t) override {}
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }

private:
  bool open_ = false;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// late < 0: not measured (pictures without stamps).
void PrintTotals(std::int64_t presented, std::int64_t late, double wallSeconds, double cpuSeconds) {
  std::cout << std::fixed << std::setprecision(2) << "total " << presented << " presented, ";
  if (late >= 0) std::cout << late << " late ";
  std::cout << "in " << wallSeconds << " s; CPU " << cpuSeconds << " s (" << cpuSeconds / wallSeconds << " cores)\n";
}

// Sleeps until the deadline or until done() says the play is over.
template <class TTimePoint, class TDone>
void WaitUntil(TTimePoint deadline, TDone done) {
  while (TSteady::now() < deadline && !done()) SystemClock().SleepMs(20);
}

// ---- Raw vendor files ----

int RunVendorFile(const TPlayOptions& options, TDateTime at) {
  if (options.speed < 0) {
    std::cerr << "play: " << options.file << ": a raw vendor file cannot play backward\n";
    return 1;
  }
  int notch = 0;
  if (options.speed > 0) {
    notch = std::clamp(static_cast<int>(std::lround(std::log2(options.speed))), -kMaxVendorNotch, kMaxVendorNotch);
    if (std::ldexp(1.0, notch) != options.speed)
      std::cerr << "play: a raw vendor file plays at powers of two; playing at speed " << std::ldexp(1.0, notch)
                << "\n";
  }
  TSession session;
  session.speed = options.speed;
  session.trace = options.trace;
  TChannelStats pictures;
  std::mutex reportLock;
  std::int64_t reports = 0;         // guarded by reportLock
  TDateTime lastPosition = kNoTime;  // guarded by reportLock

  // The library copies the factories when it is bound; only this source's
  // binding (made below) draws and plays through them.
  TWaveOutputFactory wave;
  if (options.sound) wave = [] { return std::make_unique<TSilentWave>(); };
  TDLLVendor::InstallOutputFactories([&pictures] { return std::make_unique<TCountingRenderer>(pictures); }, wave);
  TDLLVendor::SetLoadFailureReporter([](const std::string& message) { std::cerr << "play: " << message << "\n"; });
  int result = 0;
  {
    TVendorFile source(0, options.file);
    TVideoSourceOptions sourceOptions;
    sourceOptions.FileName = options.file;
    if (!source.Probe(sourceOptions)) {
      std::cerr << "play: " << options.file << ": the vendor library cannot open the file\n";
      result = 1;
    } else {
      source.SetWindow(1);
      // Destroyed before the source, which then stops its position reports.
      TStreamPlayer player(&source);
      player.SetOnFrame([&](std::int32_t, const TFrameHeader& header, const std::uint8_t*) {
        const auto now = TSteady::now();
        {
          std::lock_guard<std::mutex> guard(reportLock);
          ++reports;
          lastPosition = header.Stamp;
        }
        if (session.trace) {
          std::lock_guard<std::mutex> guard(session.outputLock);
          std::cout << session.SinceStartMs(now) << " " << FormatDateTime(kTraceStampPattern, header.Stamp) << "\n";
        }
      });
      const double cpuBefore = CpuSeconds();
      session.start = TSteady::now();
      player.PlayAtSpeed(1);
      if (!source.IsActive()) {
        std::cerr << "play: " << options.file << ": the vendor library cannot play the file\n";
        result = 1;
      } else {
        if (options.sound) source.SetSound(true);
        if (at != kNoTime) player.Seek(at);
        // One notch per call, as the speed buttons step.
        for (int step = 1; step <= std::abs(notch); ++step) player.SetSpeed(std::ldexp(1.0, notch > 0 ? step : -step));
        if (options.speed == 0) player.SetPaused(true);
        WaitUntil(session.start + std::chrono::duration<double>(options.seconds), [] { return false; });
        player.Stop();
        const double wallSeconds = std::chrono::duration<double>(TSteady::now() - session.start).count();
        const double cpuSeconds = CpuSeconds() - cpuBefore;
        std::lock_guard<std::mutex> reportGuard(reportLock);
        std::lock_guard<std::mutex> pictureGuard(pictures.lock);
        std::cout << "reports " << reports << ", last position "
                  << (lastPosition == kNoTime ? std::string("none") : FormatDateTime(kStampPattern, lastPosition))
                  << "\n";
        std::cout << "pictures drawn by the library: " << pictures.presented << " (" << pictures.width << "x"
                  << pictures.height << ")\n";
        PrintTotals(pictures.presented, -1, wallSeconds, cpuSeconds);
      }
    }
  }
  TDLLVendor::InstallOutputFactories({}, {});
  TDLLVendor::SetLoadFailureReporter({});
  return result;
}

// ---- Pull sources ----

int RunPullSources(const TPlayOptions& options, TOpenedFile& opened, TDateTime at) {
  const double speed = options.speed;
  if (speed < 0) {
    for (const auto& source : opened.Sources) {
      if (source->CanPlayBackward()) continue;
      std::cerr << "play: " << options.file << ": " << source->GetDescription()
                << " cannot play backward (only clip files and packages can)\n";
      return 1;
    }
  }
  // A play list plays its clips one after another in one view; otherwise
  // every clip has a view of its own.
  const bool playList = opened.MultiClip && !opened.SyncPlay;
  if (playList) {
    for (auto& source : opened.Sources) source->SetSourceId(0);
  }
  const int channels = playList ? 1 : static_cast<int>(opened.Sources.size());

  TSession session;
  session.speed = speed;
  session.trace = options.trace;
  std::vector<std::unique_ptr<TChannelStats>> stats;
  std::vector<std::unique_ptr<TRenderThrottle>> throttles;
  TDecoderRouter router;
  for (int channel = 0; channel < channels; ++channel) {
    stats.push_back(std::make_unique<TChannelStats>());
    TChannelStats* channelStats = stats.back().get();
    TWaveOutputFactory wave;
    if (options.sound && channel == 0) wave = [] { return std::make_unique<TSilentWave>(); };
    throttles.push_back(std::make_unique<TRenderThrottle>(
        [channel, channelStats, &session] {
          return std::make_unique<TTraceRenderer>(channel, *channelStats, session);
        },
        wave));
    throttles.back()->SetSpeed(speed);
    router.AddChannel(channel, static_cast<TWindowHandle>(channel + 1));
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

  // Where each source starts: backward play from its end, else its start. A
  // play list starts with its last clip when going backward.
  for (auto& source : opened.Sources) {
    if (speed < 0)
      source->GoToEnd();
    else
      source->GoToStart();
  }
  std::size_t playListClip = playList && speed < 0 ? opened.Sources.size() - 1 : 0;

  // One player per channel, or one for every channel in synchronised play.
  // masters[i] is the source whose end ends players[i].
  std::vector<std::unique_ptr<TFilePlayer>> players;
  std::vector<IQuernVideoSource*> masters;
  if (playList) {
    players.push_back(std::make_unique<TFilePlayer>(opened.Sources[playListClip].get()));
    masters.push_back(opened.Sources[playListClip].get());
  } else {
    for (int channel = 0; channel < channels; ++channel) {
      if (opened.SyncPlay && channel > 0) {
        players.front()->AddSource(opened.Sources[channel].get());
        continue;
      }
      players.push_back(std::make_unique<TFilePlayer>(opened.Sources[channel].get()));
      masters.push_back(opened.Sources[channel].get());
    }
  }
  // Whether each player's master has no clip left in the playing direction;
  // written by the player threads.
  std::vector<std::unique_ptr<std::atomic<bool>>> ended;
  for (std::size_t i = 0; i < players.size(); ++i) ended.push_back(std::make_unique<std::atomic<bool>>(false));
  // The channels whose last backward run was handed over.
  std::vector<std::unique_ptr<std::atomic<bool>>> runFinished;
  for (int channel = 0; channel < channels; ++channel)
    runFinished.push_back(std::make_unique<std::atomic<bool>>(false));

  // Set while a player's master has just been moved to its end for backward
  // play. Reading backward from there delivers the clip's last frame first,
  // whatever its type, and then the last key frame with its group, which
  // holds that last frame again. Alone, a last frame that is no key frame
  // cannot be decoded (or decodes against a picture of another clip into a
  // wrong one), so it is passed over. Player threads only, after the start.
  std::vector<std::unique_ptr<std::atomic<bool>>> atBackwardEnd;
  for (std::size_t i = 0; i < players.size(); ++i)
    atBackwardEnd.push_back(std::make_unique<std::atomic<bool>>(speed < 0 && at == kNoTime));

  for (std::size_t index = 0; index < players.size(); ++index) {
    TFilePlayer* raw = players[index].get();
    raw->SetOnFrame([&, index](std::int32_t sourceId, const TFrameHeader& header, const std::uint8_t* data) {
      const bool isHeader = header.FrameType == kFrameStreamHeader || header.FrameType == kFrameAudioHeader;
      if (!isHeader && sourceId == masters[index]->GetSourceId() && atBackwardEnd[index]->exchange(false) &&
          header.FrameType != kFrameKey)
        return;
      router.DeliverFrame(sourceId, header, data);
    });
    // As the main window answers a flush: decoders are reset when a seek
    // starts (not once it reached its target, or the frames after it could
    // not be decoded), and whatever is queued passes over the screen at once.
    raw->SetOnFlush([&, raw, sync = opened.SyncPlay] {
      if (raw->LastFlushReason() == TFilePlayer::TFlushReason::kSeekStarted) router.OnFlush(sync, 0);
      for (auto& throttle : throttles) throttle->RenderAllPending();
    });
    // Player thread, no player lock held. A play list moves on to its next
    // clip in the playing direction. Backward, a channel whose source has
    // reached its start hands its last run to the screen, which would
    // otherwise wait for a run that never comes.
    raw->SetOnClipEnd([&, index, raw](IVideoSourcePlayer*, IQuernBasicSource* source, bool backward) {
      if (source != masters[index]) {
        const int channel = source->GetSourceId();
        if (backward && channel >= 0 && channel < channels && !runFinished[channel]->exchange(true))
          throttles[channel]->FinishRun();
        return;
      }
      if (playList) {
        const bool hasNext = backward ? playListClip > 0 : playListClip + 1 < opened.Sources.size();
        if (hasNext) {
          playListClip = backward ? playListClip - 1 : playListClip + 1;
          IQuernVideoSource* next = opened.Sources[playListClip].get();
          raw->RemoveAllSources();
          if (backward) {
            next->GoToEnd();
            atBackwardEnd[index]->store(true);
          } else {
            next->GoToStart();
          }
          raw->AddSource(next);
          masters[index] = next;
          return;
        }
      }
      if (ended[index]->exchange(true) || !backward) return;
      if (opened.SyncPlay) {
        for (int channel = 0; channel < channels; ++channel)
          if (!runFinished[channel]->exchange(true)) throttles[channel]->FinishRun();
      } else {
        const int channel = playList ? 0 : static_cast<int>(index);
        if (!runFinished[channel]->exchange(true)) throttles[channel]->FinishRun();
      }
    });
    if (speed != 0 && !raw->SetSpeed(speed)) {
      std::cerr << "play: the file cannot be played at speed " << speed << "\n";
      return 1;
    }
    raw->Pause();
    if (at != kNoTime) raw->Seek(at);
  }

  const double cpuBefore = CpuSeconds();
  session.start = TSteady::now();
  // Speed 0 pauses: the players stay paused (a seek still shows its picture).
  if (speed != 0)
    for (auto& player : players) player->PlayAtSpeed(speed);
  const auto deadline = session.start + std::chrono::duration<double>(options.seconds);
  // Done when every master has ended and the pictures still queued are shown.
  WaitUntil(deadline, [&] {
    for (auto& flag : ended)
      if (!flag->load()) return false;
    for (auto& throttle : throttles)
      if (throttle->PendingCount() > 0) return false;
    return true;
  });
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
  PrintTotals(totalPresented, totalLate, wallSeconds, cpuSeconds);
  return 0;
}

int Run(const TPlayOptions& options) {
  OverrideSeparators('/', ':');
  TDateTime at = kNoTime;
  if (!options.at.empty() && !ParseDateTime(kStampPattern, options.at, at)) {
    std::cerr << "play: --at must look like \"" << kStampPattern << "\"\n";
    return 2;
  }
  if (!std::isfinite(options.speed) || std::abs(options.speed) > 16) {
    std::cerr << "play: --speed must lie in -16..16\n";
    return 2;
  }
  TOpenedFile opened = OpenClipFile(options.file);
  if (opened.RawVendor) return RunVendorFile(options, at);
  if (opened.Sources.empty()) {
    std::cerr << "play: " << options.file << ": " << opened.Error << "\n";
    return 1;
  }
  return RunPullSources(options, opened, at);
}

TRegisterCommand reg([](CLI::App& app) {
  auto options = std::make_shared<TPlayOptions>();
  CLI::App* command = app.add_subcommand("play", "Play a file headless through the engine and report timing");
  command->add_option("file", options->file, "Clip package, clip file, multi-clip file, raw vendor file or MPEG file")
      ->required();
  command->add_option("--speed", options->speed,
                      "Speed: 1 normal, 0 paused, negative backward (-16..16); raw vendor files play at "
                      "powers of two, forward only");
  command->add_option("--seconds", options->seconds, "Wall time to play, in seconds")->check(CLI::PositiveNumber);
  command->add_option("--at", options->at,
                      "Start time, \"yyyy/mm/dd hh:nn:ss.zzz\" (backward play starts at the end without it)");
  command->add_flag("--sound", options->sound, "Decode the first channel's audio too");
  command->add_flag("--trace",
                    options->trace, "One line per picture presented (raw vendor files: per position report)");
  command->callback([options] { SetExitCode(Run(*options)); });
});

}  // namespace
}  // namespace ospry::clip
