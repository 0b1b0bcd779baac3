// Kind-2 clips through the whole engine: clip file sources, one file player,
// the decoder router with TDecodeVendor over the real libVPlay.so, and one
// render throttle per channel drawing into a recording renderer. The test
// stands in for the main window (a flush resets the decoders and drains the
// throttles; the end of the clip finishes the last backward run).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/playback/RecordingOutputs.h"
#include "tests/vplay/VPlayLibrary.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/vendor/VendorClip.h"
#include "tools/writer/vendor/VendorMedia.h"
#include "viewer/decoding/U_DecodeVendor.h"
#include "viewer/decoding/U_DecoderRouter.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"
#include "viewer/sources/U_FileSource.h"

namespace ospry {
namespace {

using test::WaitUntil;
using namespace std::chrono_literals;

const TDateTime kStart = EncodeDateTime({2026, 12, 11, 9, 30, 0, 0});

struct TClipFile {
  std::string path;
  TTimeSegments clips;  // first and last frame stamp of each clip
};

// A kind-2 clip container written by the vendor muxer: one clip per entry of
// clipFrames, each one group opened by a key frame, 25 frames per second
// from start.
TClipFile WriteClip(const std::string& name, const std::vector<std::int32_t>& clipFrames,
                    TDateTime start = kStart) {
  writer::TVendorMediaOptions options;
  options.frameCount = 0;
  for (std::int32_t count : clipFrames) options.frameCount += count;
  options.keyInterval = clipFrames.front();
  const writer::TVendorStream stream = writer::MakeVendorStream(options);
  if (stream.frames.size() != static_cast<std::size_t>(options.frameCount)) return {};
  TClipFile clip;
  clip.path = test::TempPath(name);
  writer::TFileOutput out;
  if (!out.Create(clip.path)) return {};
  writer::TContainerWriter container(out, false);
  if (!writer::AddVendorClips(container, stream, start, clipFrames)) return {};
  container.AddDvrInfo(TDvrInfo{});
  if (!container.Finish() || !out.Close()) return {};
  std::size_t first = 0;
  for (std::int32_t count : clipFrames) {
    const std::size_t last = first + static_cast<std::size_t>(count) - 1;
    clip.clips.push_back({start + MillisecondsToDays(static_cast<double>(stream.frames[first].stampMs)),
                          start + MillisecondsToDays(static_cast<double>(stream.frames[last].stampMs))});
    first = last + 1;
  }
  return clip;
}

// The channels of one player, wired as the main window wires them: channel i
// plays paths[i] in the window i + 1; the first is the player's master.
class TVendorViewer {
public:
  explicit TVendorViewer(const std::vector<std::string>& paths)
      : router_(StandardDecoderFactory([](std::uint8_t, TWindowHandle window) -> std::unique_ptr<TDecodeBase> {
          return std::make_unique<TDecodeVendor>(window, SystemClock(), VPLAY_LIBRARY_PATH);
        })) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      auto channel = std::make_unique<TChannel>();
      channel->source = std::make_unique<TFileSource>(static_cast<std::int32_t>(i), paths[i], test::TempPath(""));
      channel->draws = std::make_shared<testing::TDrawLog>();
      channel->throttle = std::make_unique<TRenderThrottle>(testing::RecordingRendererFactory(channel->draws),
                                                            TWaveOutputFactory{});
      router_.AddChannel(static_cast<int>(i), static_cast<TWindowHandle>(i + 1));
      channels_.push_back(std::move(channel));
    }
    // Runs on each decoder's library thread. The recording renderer reads a
    // picture's stamp from its first bytes.
    router_.SetOnFrame([this](int index, const TFrameInfo& info, const std::uint8_t* payload) {
      if (info.IsAudio || index < 0 || index >= static_cast<int>(channels_.size())) return;
      TChannel& channel = *channels_[static_cast<std::size_t>(index)];
      channel.picture.assign(payload, payload + info.DataSize);
      if (channel.picture.size() >= sizeof info.Stamp)
        std::memcpy(channel.picture.data(), &info.Stamp, sizeof info.Stamp);
      ++channel.decoded;
      channel.throttle->Push(info, channel.picture.data());
    });
    player_ = std::make_unique<TFilePlayer>(channels_[0]->source.get());
    for (std::size_t i = 1; i < channels_.size(); ++i) player_->AddSource(channels_[i]->source.get());
    TFilePlayer* player = player_.get();  // player_ is already empty while it is being destroyed
    player->SetOnFrame([this](std::int32_t sourceId, const TFrameHeader& header, const std::uint8_t* data) {
      router_.DeliverFrame(sourceId, header, data);
    });
    player->SetOnFlush([this, player] {
      if (player->LastFlushReason() == TFilePlayer::TFlushReason::kSeekStarted) router_.OnFlush(true, 0);
      for (auto& channel : channels_) channel->throttle->RenderAllPending();
    });
    player->SetOnClipEnd([this](IVideoSourcePlayer*, IQuernBasicSource* source, bool backward) {
      if (source != channels_[0]->source.get() || masterEnded_.exchange(true)) return;
      if (backward) channels_[0]->throttle->FinishRun();
    });
  }
  ~TVendorViewer() {
    // As the viewer closes: players, then decoders, then throttles.
    player_.reset();
    router_.RemoveAllChannels();
  }

  // Starts play at speed, from the sources' start or (fromEnd) their end,
  // after a seek to time unless it is kNoTime; the seek comes before any
  // frame was read, as when a file is played from a given time.
  void PlayFrom(TDateTime time, double speed, bool fromEnd = false) {
    if (fromEnd)
      for (auto& channel : channels_) channel->source->GoToEnd();
    for (auto& channel : channels_) channel->throttle->SetSpeed(speed);
    ASSERT_TRUE(player_->SetSpeed(speed));
    if (time != kNoTime) player_->Seek(time);
    player_->Play();
  }
  TFilePlayer& Player() { return *player_; }
  void EndPlayer() { player_.reset(); }
  std::vector<TDateTime> Stamps(std::size_t channel) { return channels_[channel]->draws->Stamps(); }
  int Decoded(std::size_t channel) const { return channels_[channel]->decoded; }
  bool IsValid() const {
    return std::all_of(channels_.begin(), channels_.end(), [](auto& c) { return c->source->IsValid(); });
  }

private:
  struct TChannel {
    std::unique_ptr<TFileSource> source;
    std::shared_ptr<testing::TDrawLog> draws;
    std::unique_ptr<TRenderThrottle> throttle;
    std::vector<std::uint8_t> picture;  // the channel decoder's library thread only
    std::atomic<int> decoded{0};
  };

  std::vector<std::unique_ptr<TChannel>> channels_;
  TDecoderRouter router_;
  std::atomic<bool> masterEnded_{false};
  std::unique_ptr<TFilePlayer> player_;
};

// However backward play starts, the decoder gets the stream header, also when
// a seek moves past it before it was read.
TEST(VendorPlayback, PlaysBackwardAcrossAClipBoundary) {
  const TClipFile clip = WriteClip("backward.clip", {12, 12, 6});
  ASSERT_EQ(clip.clips.size(), 3u);
  struct TCase {
    const char* name;
    bool fromEnd;
    bool seek;  // to the last frame
  };
  for (const TCase& c : {TCase{"seek from the start", false, true}, TCase{"from the end", true, false},
                         TCase{"seek from the end", true, true}}) {
    SCOPED_TRACE(c.name);
    TVendorViewer viewer({clip.path});
    ASSERT_TRUE(viewer.IsValid());
    viewer.PlayFrom(c.seek ? clip.clips.back().End : kNoTime, -1.0, c.fromEnd);
    // Down to the very first picture: the last run is finished at the clip end.
    const TDateTime first = clip.clips[0].Start;
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto stamps = viewer.Stamps(0);
          return !stamps.empty() && stamps.back() <= first;
        },
        10s))
        << viewer.Decoded(0) << " decoded, " << viewer.Stamps(0).size() << " drawn";
    viewer.EndPlayer();
    const std::vector<TDateTime> stamps = viewer.Stamps(0);
    for (std::size_t i = 1; i < stamps.size(); ++i) EXPECT_LT(stamps[i], stamps[i - 1]) << "picture " << i;
    // Switching to backward play discards the first run (around the last
    // frame); every picture of the two clips before the last is shown.
    const TDateTime oneMs = MillisecondsToDays(1);
    const auto inClip = [&](const TTimeSegment& range) {
      return std::count_if(stamps.begin(), stamps.end(),
                           [&](TDateTime s) { return s > range.Start - oneMs && s < range.End + oneMs; });
    };
    EXPECT_EQ(inClip(clip.clips[1]), 12);
    EXPECT_EQ(inClip(clip.clips[0]), 12);
  }
}

// A group goes out while the one after it is shown. The render throttle
// drops the first run of backward play (the one around where it started), so
// the first pictures come one group's time (2 s here) after the start, not
// two.
TEST(VendorPlayback, BackwardPlayShowsAGroupWhileTheNextIsDecoded) {
  const TClipFile clip = WriteClip("backward-groups.clip", {50, 50, 50});
  ASSERT_EQ(clip.clips.size(), 3u);
  TVendorViewer viewer({clip.path});
  const auto start = std::chrono::steady_clock::now();
  viewer.PlayFrom(kNoTime, -1.0, true);
  ASSERT_TRUE(WaitUntil([&] { return !viewer.Stamps(0).empty(); }, 10s));
  const auto firstPicture = std::chrono::steady_clock::now() - start;
  EXPECT_LT(firstPicture, 3000ms) << std::chrono::duration_cast<std::chrono::milliseconds>(firstPicture).count()
                                  << " ms";
}

// The end of the player (closing the file) does not wait for the rest of a
// backward group to go through the decoder.
TEST(VendorPlayback, EndingThePlayerMidRunReturnsPromptly) {
  const TClipFile clip = WriteClip("backward-long.clip", {100, 100});
  ASSERT_EQ(clip.clips.size(), 2u);
  TVendorViewer viewer({clip.path});
  viewer.PlayFrom(clip.clips.back().End, -1.0);
  ASSERT_TRUE(WaitUntil([&] { return viewer.Decoded(0) > 0; }, 10s)) << "no picture decoded";
  const auto before = std::chrono::steady_clock::now();
  viewer.Player().Stop();
  viewer.EndPlayer();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, 500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

// In synchronised play every channel's decoder gets its stream header, also
// when a seek or the secondary's 10-second rule moves past it.
TEST(VendorPlayback, SecondaryChannelDecodesInSynchronisedPlay) {
  struct TCase {
    const char* name;
    double secondaryLeadMs;  // the secondary's clip starts this much earlier
    bool seek;               // to the middle of the master's clip
  };
  for (const TCase& c : {TCase{"seek before the first frame", 0, true},
                         TCase{"secondary 20 s away", 20000, false}}) {
    SCOPED_TRACE(c.name);
    const TClipFile master = WriteClip("sync-master.clip", {25});
    const TClipFile secondary =
        WriteClip("sync-secondary.clip", {25}, kStart - MillisecondsToDays(c.secondaryLeadMs));
    TVendorViewer viewer({master.path, secondary.path});
    ASSERT_TRUE(viewer.IsValid());
    viewer.PlayFrom(c.seek ? kStart + MillisecondsToDays(500) : kNoTime, 1.0);
    EXPECT_TRUE(WaitUntil([&] { return viewer.Decoded(0) > 0 && viewer.Decoded(1) > 0; }, 5s))
        << viewer.Decoded(0) << " and " << viewer.Decoded(1) << " decoded";
  }
}

}  // namespace
}  // namespace ospry
