// Backward play of a kind-2 clip through the whole engine: the clip file
// source, the file player, the decoder router with TDecodeVendor over the real
// libVPlay.so, and a render throttle drawing into a recording renderer. The
// test stands in for the main window (flush resets the decoders and drains the
// throttle; the end of the clip finishes the last backward run).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
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

constexpr TWindowHandle kWindow = 7;

struct TClipFile {
  std::string path;
  TTimeSegments clips;  // first and last frame stamp of each clip
};

// A kind-2 clip container of three clips (groups of clipFrames[i] frames each,
// a key frame opening every clip), written by the vendor muxer.
TClipFile WriteClip(const std::string& name, const std::vector<std::int32_t>& clipFrames, int width,
                    int height) {
  writer::TVendorMediaOptions options;
  options.width = width;
  options.height = height;
  options.frameCount = 0;
  for (std::int32_t count : clipFrames) options.frameCount += count;
  options.keyInterval = clipFrames.front();
  const writer::TVendorStream stream = writer::MakeVendorStream(options);
  TClipFile clip;
  if (stream.frames.size() != static_cast<std::size_t>(options.frameCount)) return clip;
  const TDateTime start = EncodeDateTime({2026, 12, 11, 9, 30, 0, 0});
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

// One channel of the viewer, wired as the main window wires it.
class TVendorChannel {
public:
  explicit TVendorChannel(const std::string& path)
      : source_(0, path, test::TempPath("")),
        draws_(std::make_shared<testing::TDrawLog>()),
        throttle_(testing::RecordingRendererFactory(draws_), {}),
        router_(StandardDecoderFactory([](std::uint8_t, TWindowHandle window) -> std::unique_ptr<TDecodeBase> {
          return std::make_unique<TDecodeVendor>(window, SystemClock(), VPLAY_LIBRARY_PATH);
        })) {
    router_.AddChannel(0, kWindow);
    // The recording renderer reads a picture's stamp from its first bytes.
    router_.SetOnFrame([this](int, const TFrameInfo& info, const std::uint8_t* payload) {
      if (info.IsAudio) return;
      std::vector<std::uint8_t>& picture = picture_;
      picture.assign(payload, payload + info.DataSize);
      if (picture.size() >= sizeof info.Stamp) std::memcpy(picture.data(), &info.Stamp, sizeof info.Stamp);
      ++decoded_;
      throttle_.Push(info, picture.data());
    });
    player_ = std::make_unique<TFilePlayer>(&source_);
    player_->SetOnFrame([this](std::int32_t sourceId, const TFrameHeader& header, const std::uint8_t* data) {
      router_.DeliverFrame(sourceId, header, data);
    });
    TFilePlayer* player = player_.get();  // player_ is already empty while it is being destroyed
    player->SetOnFlush([this, player] {
      if (player->LastFlushReason() == TFilePlayer::TFlushReason::kSeekStarted) router_.OnFlush(false, 0);
      throttle_.RenderAllPending();
    });
    player_->SetOnClipEnd([this](IVideoSourcePlayer*, IQuernBasicSource*, bool backward) {
      if (!ended_.exchange(true) && backward) throttle_.FinishRun();
    });
  }
  ~TVendorChannel() {
    // As the viewer closes: players, then decoders, then throttles.
    player_.reset();
    router_.RemoveAllChannels();
  }

  TFileSource& Source() { return source_; }
  TFilePlayer& Player() { return *player_; }
  TRenderThrottle& Throttle() { return throttle_; }
  testing::TDrawLog& Draws() { return *draws_; }
  bool Ended() const { return ended_; }
  int Decoded() const { return decoded_; }
  void StopPlayer() { player_.reset(); }

private:
  TFileSource source_;
  std::shared_ptr<testing::TDrawLog> draws_;
  TRenderThrottle throttle_;
  TDecoderRouter router_;
  std::vector<std::uint8_t> picture_;  // decode callback's thread only
  std::atomic<int> decoded_{0};
  std::atomic<bool> ended_{false};
  std::unique_ptr<TFilePlayer> player_;
};

// Backward play as the play tool and a timeline click start it: a seek to the
// end of the last clip before any frame was read, then -1x.
void StartBackwardFromEnd(TVendorChannel& channel, const TClipFile& clip) {
  channel.Throttle().SetSpeed(-1.0);
  ASSERT_TRUE(channel.Player().SetSpeed(-1.0));
  channel.Player().Seek(clip.clips.back().End);
  channel.Player().Play();
}

TEST(VendorBackward, PlaysBackwardAcrossAClipBoundary) {
  const TClipFile clip = WriteClip("backward.clip", {12, 12, 6}, 64, 48);
  ASSERT_EQ(clip.clips.size(), 3u);
  TVendorChannel channel(clip.path);
  ASSERT_TRUE(channel.Source().IsValid());
  StartBackwardFromEnd(channel, clip);
  // Down to the very first picture: the last run is finished at the clip end.
  const TDateTime first = clip.clips[0].Start;
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto stamps = channel.Draws().Stamps();
        return !stamps.empty() && stamps.back() <= first;
      },
      10s))
      << channel.Decoded() << " decoded, " << channel.Draws().Count() << " drawn";
  channel.StopPlayer();
  const std::vector<TDateTime> stamps = channel.Draws().Stamps();
  for (std::size_t i = 1; i < stamps.size(); ++i) EXPECT_LT(stamps[i], stamps[i - 1]) << "picture " << i;
  // Switching to backward play discards the first run (the last clip's
  // group); every picture of the two clips before it is shown.
  const TDateTime oneMs = MillisecondsToDays(1);
  const auto inClip = [&](const TTimeSegment& range) {
    return std::count_if(stamps.begin(), stamps.end(), [&](TDateTime s) {
      return s > range.Start - oneMs && s < range.End + oneMs;
    });
  };
  EXPECT_EQ(inClip(clip.clips[1]), 12);
  EXPECT_EQ(inClip(clip.clips[0]), 12);
}

// The end of the player (closing the file) does not wait for the rest of a
// backward group to go through the decoder.
TEST(VendorBackward, StoppingMidRunReturnsPromptly) {
  const TClipFile clip = WriteClip("backward-long.clip", {100, 100}, 64, 48);
  ASSERT_EQ(clip.clips.size(), 2u);
  TVendorChannel channel(clip.path);
  StartBackwardFromEnd(channel, clip);
  ASSERT_TRUE(WaitUntil([&] { return channel.Decoded() > 0; }, 10s)) << "no picture decoded";
  const auto before = std::chrono::steady_clock::now();
  channel.Player().Stop();
  channel.StopPlayer();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, 300ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

}  // namespace
}  // namespace ospry
