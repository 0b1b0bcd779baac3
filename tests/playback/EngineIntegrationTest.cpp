// The engine end to end on the real clock: clips played through the file
// player into a render throttle with a recording renderer, the test standing
// in for the main window (decoding is making the test picture that carries
// the frame's stamp; a clip end switches to the next clip of the list).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "tests/playback/EngineIntegration.h"
#include "tests/playback/PlayListChannel.h"
#include "tests/playback/RecordingOutputs.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"

namespace ospry {
namespace {

using namespace std::chrono_literals;

class EngineIntegrationTest : public ::testing::TestWithParam<double> {};

TEST_P(EngineIntegrationTest, PlaysThreeClipsInOrderAtTheirPace) {
  const double speed = GetParam();
  auto clips = testing::MakeIntegrationClips(std::fabs(speed));
  ASSERT_EQ(clips->Sources().size(), 3u);
  testing::TPlayListChannel channel(clips->Sources());
  channel.PlayAll(speed, [] { std::this_thread::sleep_for(10ms); });
  ASSERT_TRUE(channel.Finished());
  const auto draws = channel.Draws();
  ASSERT_GE(draws.size(), 9u);

  testing::ExpectPlayedInOrder(draws, speed, clips->ClipRanges());
  // The pace: wall time between the first and the last picture of the middle
  // clip against its media time divided by the speed.
  const auto& last = clips->ClipRanges()[1];
  std::vector<testing::TDrawRecord> inLast;
  for (const auto& draw : draws)
    if (draw.PictureStamp >= last.Start && draw.PictureStamp <= last.End) inLast.push_back(draw);
  ASSERT_GE(inLast.size(), 3u);
  const double wallMs = (inLast.back().DrawnAt - inLast.front().DrawnAt) * kMsPerDay;
  const double mediaMs =
      std::fabs(inLast.back().PictureStamp - inLast.front().PictureStamp) * kMsPerDay;
  EXPECT_NEAR(wallMs, mediaMs / std::fabs(speed), 0.35 * mediaMs / std::fabs(speed) + 60)
      << "speed " << speed;
}

INSTANTIATE_TEST_SUITE_P(Speeds, EngineIntegrationTest, ::testing::Values(1.0, 4.0, -1.0, -4.0));

// Two channels in sync: the secondary never gets ahead of the master's time
// of day and catches up after a seek and after a gap of more than 10 s.
TEST(EngineIntegrationSync, SecondaryFollowsTheMaster) {
  auto pair = testing::MakeSyncPair();
  struct TEvent {
    std::int32_t SourceId;
    TDateTime TimeOfDay;
  };
  std::mutex lock;
  std::vector<TEvent> events;
  TFilePlayer player;
  player.SetOnFrame([&](std::int32_t id, const TFrameHeader& header, const std::uint8_t*) {
    if (header.FrameType == kFrameStreamHeader) return;
    std::lock_guard<std::mutex> guard(lock);
    events.push_back({id, header.Stamp - std::floor(header.Stamp)});
  });
  player.AddSource(pair->Master());
  player.AddSource(pair->Secondary());
  player.PlayAtSpeed(4.0);
  std::this_thread::sleep_for(400ms);
  player.Seek(pair->SeekTarget());
  // Long enough to play past the gap of more than 10 s in both sources.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  for (;;) {
    std::this_thread::sleep_for(20ms);
    std::lock_guard<std::mutex> guard(lock);
    if (!events.empty() && events.back().TimeOfDay > pair->AfterGapTimeOfDay()) break;
    if (std::chrono::steady_clock::now() > deadline) break;
  }
  player.Pause();
  player.RemoveAllSources();

  std::lock_guard<std::mutex> guard(lock);
  TDateTime masterTime = -1;
  bool caughtUpAfterSeek = false;
  bool caughtUpAfterGap = false;
  bool sought = false;
  const TDateTime tolerance = 100 / kMsPerDay;
  for (const auto& event : events) {
    if (event.SourceId == pair->Master()->GetSourceId()) {
      sought = sought || std::fabs(event.TimeOfDay - pair->SeekTimeOfDay()) < tolerance;
      masterTime = event.TimeOfDay;
      continue;
    }
    ASSERT_GE(masterTime, 0) << "a secondary frame before any master frame";
    EXPECT_LE(event.TimeOfDay, masterTime + 1e-9);
    if (sought && std::fabs(event.TimeOfDay - masterTime) < tolerance) caughtUpAfterSeek = true;
    if (masterTime > pair->AfterGapTimeOfDay() - 1 / kSecondsPerDay &&
        std::fabs(event.TimeOfDay - masterTime) < tolerance)
      caughtUpAfterGap = true;
  }
  EXPECT_TRUE(sought);
  EXPECT_TRUE(caughtUpAfterSeek);
  EXPECT_TRUE(caughtUpAfterGap);
}

}  // namespace
}  // namespace ospry
