#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

#include "tests/playback/FakeVideoSource.h"
#include "tests/playback/RecordingOutputs.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"

namespace ospry {
namespace {

using testing::MakeFakeClip;
using testing::TFakeVideoSource;

constexpr TDateTime kNoon = 46000.5;      // clips start here
constexpr TDateTime kWall = 46010.25;     // the player's clock, elsewhere in time
TDateTime At(int ms) { return kNoon + ms / kMsPerDay; }
int MsOf(TDateTime stamp) { return static_cast<int>(std::llround((stamp - kNoon) * kMsPerDay)); }

struct TDelivered {
  std::int32_t SourceId;
  std::uint8_t FrameType;
  int Ms;  // stamp as milliseconds after noon
};

// A player on a manual clock whose ticks the test runs; every event is noted.
class FilePlayerTest : public ::testing::Test {
protected:
  FilePlayerTest() : clock_(kWall), player_(clock_, TFilePlayer::TThreadMode::kManualTicks) {
    player_.SetOnFrame([this](std::int32_t id, const TFrameHeader& header, const std::uint8_t*) {
      delivered_.push_back({id, header.FrameType, MsOf(header.Stamp)});
    });
    player_.SetOnFlush([this] { flushes_.push_back(player_.LastFlushReason()); });
    player_.SetOnClipEnd([this](IVideoSourcePlayer*, IQuernBasicSource* source, bool backward) {
      clipEnds_.push_back({source, backward});
    });
  }

  std::int64_t Tick() {
    clock_.TakeSleeps();
    player_.PlayerTick();
    auto sleeps = clock_.TakeSleeps();
    return std::accumulate(sleeps.begin(), sleeps.end(), std::int64_t{0});
  }
  // Stamps (ms) of the frames delivered for source id, stream headers left out.
  std::vector<int> FramesOf(std::int32_t id) {
    std::vector<int> out;
    for (const auto& frame : delivered_)
      if (frame.SourceId == id && frame.FrameType != kFrameStreamHeader) out.push_back(frame.Ms);
    return out;
  }

  TManualClock clock_;
  TFilePlayer player_;
  std::vector<TDelivered> delivered_;
  std::vector<TFilePlayer::TFlushReason> flushes_;
  std::vector<std::pair<IQuernBasicSource*, bool>> clipEnds_;
};

struct TSleepCase {
  double speed;
  int readAfterMs;
  std::int64_t sleepMs;
};

class PlayerPacingTest : public FilePlayerTest, public ::testing::WithParamInterface<TSleepCase> {};

TEST_P(PlayerPacingTest, SleepsUntilTheFrameIsDue) {
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 10, 40, 5)}, 0);
  ASSERT_TRUE(player_.AddSource(&source));
  ASSERT_TRUE(player_.SetSpeed(GetParam().speed));
  EXPECT_EQ(Tick(), 0);  // the clock restarts at the first frame
  clock_.AdvanceMs(GetParam().readAfterMs);
  EXPECT_EQ(Tick(), GetParam().sleepMs);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayerPacingTest,
                         ::testing::Values(TSleepCase{1.0, 10, 30}, TSleepCase{2.0, 10, 10},
                                           TSleepCase{0.5, 10, 70}));

struct TRestartCase {
  double speed;
  int lagMs;
  bool restarts;
};

class PlayerClockRestartTest : public FilePlayerTest,
                               public ::testing::WithParamInterface<TRestartCase> {};

TEST_P(PlayerClockRestartTest, RestartsWhenTheLagExceedsTenSecondsOfMedia) {
  const TRestartCase c = GetParam();
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 10, 40, 5)}, 0);
  player_.AddSource(&source);
  player_.SetSpeed(c.speed);
  Tick();
  clock_.AdvanceMs(40 / c.speed + c.lagMs);
  EXPECT_EQ(Tick(), 0);  // late either way
  // The next frame shows whether the clock restarted at the late one.
  const std::int64_t expected = c.restarts ? std::llround(40 / c.speed) : 0;
  EXPECT_EQ(Tick(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayerClockRestartTest,
                         ::testing::Values(TRestartCase{4.0, 2400, false},
                                           TRestartCase{4.0, 2600, true},
                                           TRestartCase{0.5, 19900, false},
                                           TRestartCase{0.5, 20100, true}));

TEST_F(FilePlayerTest, WhilePausedTicksIdleAndAStepDeliversOneFrame) {
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 10, 40, 5)}, 1);
  player_.AddSource(&source);
  EXPECT_TRUE(player_.IsPaused());
  EXPECT_EQ(Tick(), 100);
  EXPECT_TRUE(delivered_.empty());
  player_.StepForward();
  Tick();
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(delivered_[0].FrameType, kFrameStreamHeader);
  player_.StepForward();
  Tick();
  EXPECT_EQ(FramesOf(0), (std::vector<int>{0}));
  EXPECT_EQ(Tick(), 100);
  EXPECT_EQ(delivered_.size(), 2u);
}

TEST_F(FilePlayerTest, SeekRelativeWaitsForPlayWhilePaused) {
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 50, 40, 5)}, 0);
  player_.AddSource(&source);
  player_.StepForward();
  Tick();
  player_.SeekRelative(1000 / kMsPerDay);
  Tick();
  EXPECT_TRUE(flushes_.empty());
  player_.Play();
  Tick();
  EXPECT_EQ(flushes_.size(), 2u);
  EXPECT_EQ(FramesOf(0).back(), 1040);  // position was the frame after 0
}

TEST_F(FilePlayerTest, SpeedChangesPauseRefuseAndStep) {
  TFakeVideoSource forwardOnly(0, {MakeFakeClip(At(0), 10, 40, 5)}, 0, false);
  player_.AddSource(&forwardOnly);
  player_.Play();
  EXPECT_TRUE(player_.SetSpeed(0.0));
  EXPECT_TRUE(player_.IsPaused());
  EXPECT_EQ(player_.GetSpeed(), 1.0);
  player_.Resume();
  EXPECT_FALSE(player_.IsPaused());

  EXPECT_FALSE(player_.SetSpeed(-1.0));
  EXPECT_EQ(player_.GetSpeed(), 1.0);

  player_.Faster();
  EXPECT_EQ(player_.GetSpeed(), 2.0);
  player_.SetSpeed(1.0);
  player_.Slower();
  EXPECT_TRUE(player_.IsPaused());
  EXPECT_EQ(player_.GetSpeed(), 1.0);

  player_.RemoveAllSources();
  player_.SetSpeed(0.5);
  player_.Slower();
  EXPECT_EQ(player_.GetSpeed(), -0.5);
}

TEST_F(FilePlayerTest, SourceListChangesAndTheirRefusals) {
  TFakeVideoSource a(0, {MakeFakeClip(At(0), 10, 40, 5)}, 0);
  TFakeVideoSource b(1, {MakeFakeClip(At(0), 10, 40, 5)}, 0);
  TFakeVideoSource forwardOnly(2, {MakeFakeClip(At(0), 10, 40, 5)}, 0, false);
  EXPECT_TRUE(player_.AddSource(&a));
  EXPECT_FALSE(player_.AddSource(&a));
  EXPECT_EQ(player_.GetLastError(), "Add source failed: source already exists");
  EXPECT_TRUE(player_.AddSource(&b));
  EXPECT_TRUE(a.IsActive());
  EXPECT_TRUE(b.IsActive());

  player_.SetSpeed(-1.0);
  EXPECT_FALSE(player_.AddSource(&forwardOnly));
  EXPECT_FALSE(player_.AddSource(&b));  // still a duplicate going backward
  EXPECT_EQ(player_.GetLastError(), "Add source failed: source already exists");

  EXPECT_FALSE(player_.RemoveSource(&forwardOnly));
  EXPECT_EQ(player_.GetLastError(), "Remove source failed: source does not exist");

  player_.RemoveAllSources();
  EXPECT_FALSE(a.IsActive());
  EXPECT_FALSE(b.IsActive());
  EXPECT_FALSE(player_.HasSource(&a));
  EXPECT_EQ(player_.GetPosition(), kNoTime);
}

TEST_F(FilePlayerTest, StopRewindsAndPauses) {
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 10, 40, 5)}, 1);
  player_.AddSource(&source);
  player_.Play();
  for (int i = 0; i < 4; ++i) Tick();
  player_.Stop();
  EXPECT_TRUE(player_.IsPaused());
  EXPECT_EQ(source.Position(), -1);
  EXPECT_EQ(Tick(), 100);
}

struct TBackwardCase {
  double speed;
  std::vector<int> frames;  // indexes of the delivered frames, in order
};

class PlayerBackwardTest : public FilePlayerTest,
                           public ::testing::WithParamInterface<TBackwardCase> {};

TEST_P(PlayerBackwardTest, DeliversGroupsOrKeyFramesGoingBack) {
  // Key frames at 0, 3 and 6.
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 9, 40, 3)}, 1);
  player_.AddSource(&source);
  source.GoToEnd();
  player_.SetSpeed(GetParam().speed);
  for (int i = 0; i < 12 && clipEnds_.empty(); ++i) Tick();
  std::vector<int> expected;
  for (int index : GetParam().frames) expected.push_back(index * 40);
  EXPECT_EQ(FramesOf(0), expected);
  ASSERT_EQ(clipEnds_.size(), 1u);
  EXPECT_EQ(clipEnds_[0].first, &source);
  EXPECT_TRUE(clipEnds_[0].second);
  EXPECT_EQ(delivered_.front().FrameType, kFrameStreamHeader);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlayerBackwardTest,
                         ::testing::Values(TBackwardCase{-1.0, {8, 6, 7, 8, 3, 4, 5, 0, 1, 2}},
                                           TBackwardCase{-2.0, {8, 6, 3, 0}}));

TEST_F(FilePlayerTest, ClipEndRepeatsEveryHundredMilliseconds) {
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 2, 40, 5)}, 0);
  player_.AddSource(&source);
  player_.Play();
  Tick();
  Tick();
  EXPECT_EQ(Tick(), 100);
  EXPECT_EQ(Tick(), 100);
  ASSERT_EQ(clipEnds_.size(), 2u);
  EXPECT_EQ(clipEnds_[1].first, &source);
  EXPECT_FALSE(clipEnds_[1].second);
}

TEST_F(FilePlayerTest, AClipEndHandlerMaySwitchTheSourceOnThePlayerThread) {
  TFakeVideoSource first(0, {MakeFakeClip(At(0), 2, 40, 5)}, 0);
  TFakeVideoSource second(0, {MakeFakeClip(At(1000), 2, 40, 5)}, 0);
  player_.SetOnClipEnd([&](IVideoSourcePlayer* player, IQuernBasicSource* ended, bool) {
    if (ended != &first) return;
    player->RemoveAllSources();
    second.GoToStart();
    player->AddSource(&second);
  });
  player_.AddSource(&first);
  player_.Play();
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_EQ(FramesOf(0), (std::vector<int>{0, 40, 1000, 1040}));
  EXPECT_EQ(first.Violations(), 0);
}

TEST_F(FilePlayerTest, SecondariesFollowTheMastersTimeOfDayAndNeverRunAhead) {
  TFakeVideoSource master(0, {MakeFakeClip(At(0), 50, 40, 10)}, 1);
  // A day later, 20 ms out of step, with its own stream header.
  TFakeVideoSource secondary(1, {MakeFakeClip(At(20) + 1.0, 50, 40, 10)}, 1);
  player_.AddSource(&master);
  player_.AddSource(&secondary);
  player_.Play();
  for (int i = 0; i < 30; ++i) Tick();
  int lastMaster = -1;
  bool secondaryHeader = false;
  for (const auto& frame : delivered_) {
    if (frame.SourceId == 0 && frame.FrameType != kFrameStreamHeader) lastMaster = frame.Ms;
    if (frame.SourceId == 1 && frame.FrameType == kFrameStreamHeader) secondaryHeader = true;
    if (frame.SourceId == 1 && frame.FrameType != kFrameStreamHeader) {
      EXPECT_LE(frame.Ms - 86400000, lastMaster);
    }
  }
  EXPECT_TRUE(secondaryHeader);
  EXPECT_EQ(FramesOf(1).back() - 86400000, FramesOf(0).back() - 20);
}

TEST_F(FilePlayerTest, AStampJumpRestartsTheClockAndReseeksSecondaries) {
  std::vector<testing::TFakeClip> clips{MakeFakeClip(At(0), 5, 40, 5),
                                        MakeFakeClip(At(30000), 5, 40, 5)};
  TFakeVideoSource master(0, clips, 0);
  TFakeVideoSource secondary(1, clips, 0);
  player_.AddSource(&master);
  player_.AddSource(&secondary);
  player_.Play();
  for (int i = 0; i < 5; ++i) Tick();
  clock_.AdvanceMs(40);
  EXPECT_EQ(Tick(), 0);  // the master's 30 s jump
  EXPECT_EQ(FramesOf(0).back(), 30000);
  EXPECT_EQ(FramesOf(1).back(), 30000);
  EXPECT_EQ(FramesOf(1).size(), 6u);  // nothing of the gap, nothing ahead
}

// A seek brings the picture of the wanted time on screen, paused or playing:
// the last frame at or before the time, decoded from its key frame.
struct TSeekCase {
  int wantedMs;
  int shownMs;
};

class PlayerSeekTest : public FilePlayerTest,
                       public ::testing::WithParamInterface<std::tuple<TSeekCase, bool>> {};

TEST_P(PlayerSeekTest, ShowsThePictureOfTheWantedTime) {
  const auto [c, playing] = GetParam();
  // Clips of 25 frames (key every 10) at 0 s and at 20 s, and a secondary.
  std::vector<testing::TFakeClip> clips{MakeFakeClip(At(0), 25, 40, 10),
                                        MakeFakeClip(At(20000), 25, 40, 10)};
  TFakeVideoSource master(0, clips, 1);
  TFakeVideoSource secondary(1, clips, 1);
  auto draws = std::make_shared<testing::TDrawLog>();
  TRenderThrottle throttle(testing::RecordingRendererFactory(draws, clock_), {}, clock_,
                           TRenderThrottle::TThreadMode::kManualTicks);
  // The main window's part: decode (here: make the test picture) and push;
  // answer a flush by draining the queue.
  player_.SetOnFrame([&](std::int32_t id, const TFrameHeader& header, const std::uint8_t*) {
    delivered_.push_back({id, header.FrameType, MsOf(header.Stamp)});
    if (id != 0 || header.FrameType == kFrameStreamHeader) return;
    auto picture = testing::TestPicture(header.Stamp);
    throttle.Push(testing::TestPictureInfo(header.Stamp), picture.data());
  });
  player_.SetOnFlush([&] {
    flushes_.push_back(player_.LastFlushReason());
    throttle.RenderAllPending();
  });
  player_.AddSource(&master);
  player_.AddSource(&secondary);
  if (playing) {
    player_.Play();
    throttle.SetSpeed(1.0);
    for (int i = 0; i < 8; ++i) Tick();
  }
  delivered_.clear();
  player_.Seek(At(c.wantedMs));
  Tick();
  EXPECT_EQ(player_.IsPaused(), !playing);
  EXPECT_EQ(flushes_, (std::vector<TFilePlayer::TFlushReason>{
                          TFilePlayer::TFlushReason::kSeekStarted,
                          TFilePlayer::TFlushReason::kTargetReached}));
  ASSERT_FALSE(draws->Stamps().empty());
  EXPECT_EQ(MsOf(draws->Stamps().back()), c.shownMs);
  // The run-up starts at a key frame and ends at the target.
  const auto frames = FramesOf(0);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front() % 400, 0);
  EXPECT_EQ(frames.back(), c.shownMs);
  // The secondary is brought up to the target, not beyond.
  ASSERT_FALSE(FramesOf(1).empty());
  EXPECT_EQ(FramesOf(1).back(), c.shownMs);
  if (!playing) {
    EXPECT_EQ(Tick(), 100);
    EXPECT_EQ(MsOf(draws->Stamps().back()), c.shownMs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerSeekTest,
    ::testing::Combine(::testing::Values(TSeekCase{0, 0},          // the start
                                         TSeekCase{130, 120},      // mid-group
                                         TSeekCase{400, 400},      // a key frame
                                         TSeekCase{959, 920},      // the clip's last frame
                                         TSeekCase{5000, 20000},   // in the gap
                                         TSeekCase{20650, 20640},  // inside the next clip
                                         TSeekCase{99999, 20960}), // after the end
                       ::testing::Bool()));

TEST_F(FilePlayerTest, SeekWhilePlayingBackwardRunsUpForwardAndGoesOnBack) {
  TFakeVideoSource source(0, {MakeFakeClip(At(0), 30, 40, 10)}, 0);
  player_.AddSource(&source);
  player_.SetSpeed(-1.0);
  player_.Seek(At(530));
  Tick();
  EXPECT_EQ(FramesOf(0), (std::vector<int>{400, 440, 480, 520}));
  delivered_.clear();
  Tick();
  EXPECT_EQ(FramesOf(0), (std::vector<int>{0, 40, 80, 120, 160, 200, 240, 280, 320, 360}));
}

// The real player thread against a main thread that keeps replacing its
// sources: no source is ever read after it was removed.
TEST(FilePlayerThreaded, NeverReadsASourceBeingRemovedOrReplaced) {
  std::vector<std::unique_ptr<TFakeVideoSource>> sources;
  for (int i = 0; i < 4; ++i)
    sources.push_back(std::make_unique<TFakeVideoSource>(
        i, std::vector<testing::TFakeClip>{MakeFakeClip(At(0), 2000, 40, 10)}, 1));
  std::atomic<int> frames{0};
  {
    TFilePlayer player;
    player.SetOnFrame([&](std::int32_t, const TFrameHeader&, const std::uint8_t*) { ++frames; });
    player.SetOnClipEnd([](IVideoSourcePlayer*, IQuernBasicSource*, bool) {});
    player.AddSource(sources[0].get());
    player.AddSource(sources[1].get());
    player.SetSpeed(16.0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    int round = 0;
    while (std::chrono::steady_clock::now() < end) {
      player.Pause();
      player.RemoveAllSources();
      player.AddSource(sources[round % 4].get());
      player.AddSource(sources[(round + 1) % 4].get());
      if (round % 3 == 0) player.Seek(At((round * 370) % 60000));
      player.SetSpeed(round % 5 == 0 ? -1.0 : 16.0);
      player.Play();
      ++round;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    player.RemoveAllSources();
  }
  EXPECT_GT(frames.load(), 0);
  for (const auto& source : sources) {
    EXPECT_EQ(source->Violations(), 0);
    EXPECT_GT(source->Reads(), 0);
  }
}

}  // namespace
}  // namespace ospry
