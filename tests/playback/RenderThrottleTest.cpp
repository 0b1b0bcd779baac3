#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

#include "tests/playback/RecordingOutputs.h"
#include "viewer/playback/U_RenderThrottle.h"

namespace ospry {
namespace {

using testing::RecordingRendererFactory;
using testing::RecordingWaveFactory;
using testing::TDrawLog;
using testing::TestPicture;
using testing::TestPictureInfo;
using testing::TWaveLog;
using testing::TWaveRecord;

constexpr TDateTime kBase = 46000.5;
TDateTime At(int ms) { return kBase + ms / kMsPerDay; }

// Whole milliseconds between two clock readings.
std::int64_t MsBetween(TDateTime later, TDateTime earlier) {
  return std::llround((later - earlier) * kMsPerDay);
}

std::int64_t Sum(const std::vector<std::int64_t>& values) {
  return std::accumulate(values.begin(), values.end(), std::int64_t{0});
}

// A throttle on a manual clock; the test runs the render thread's ticks.
class RenderThrottleTest : public ::testing::Test {
protected:
  RenderThrottleTest()
      : clock_(kBase),
        draws_(std::make_shared<TDrawLog>()),
        wave_(std::make_shared<TWaveLog>()),
        throttle_(RecordingRendererFactory(draws_, clock_), RecordingWaveFactory(wave_, clock_),
                  clock_, TRenderThrottle::TThreadMode::kManualTicks) {}

  void Push(int ms, TWindowHandle window = 1) {
    auto picture = TestPicture(At(ms));
    throttle_.Push(TestPictureInfo(At(ms), 4, 4, window), picture.data());
  }
  // The sleeps of one tick, and whether it drew.
  std::int64_t TickSleepMs() {
    clock_.TakeSleeps();
    throttle_.RenderTick();
    return Sum(clock_.TakeSleeps());
  }
  std::vector<TDateTime> Drawn() { return draws_->Stamps(); }

  TManualClock clock_;
  std::shared_ptr<TDrawLog> draws_;
  std::shared_ptr<TWaveLog> wave_;
  TRenderThrottle throttle_;
};

struct TPacingCase {
  double speed;
  int gapMs;
  int queued;  // pictures pending when the measured tick starts
  std::int64_t sleepMs;
};

class ForwardPacingTest : public RenderThrottleTest,
                          public ::testing::WithParamInterface<TPacingCase> {};

TEST_P(ForwardPacingTest, SleepFollowsStampGapSpeedAndQueueLevel) {
  const TPacingCase c = GetParam();
  throttle_.SetSpeed(c.speed);
  // Two pictures to settle the pacing (resynchronisation, first gap), then
  // the measured queue.
  for (int i = 0; i < 2 + c.queued; ++i) Push(i * c.gapMs);
  clock_.AdvanceMs(1000);  // past the prebuffer second
  TickSleepMs();
  TickSleepMs();
  ASSERT_EQ(throttle_.PendingCount(), c.queued);
  EXPECT_EQ(TickSleepMs(), c.sleepMs);
  EXPECT_EQ(Drawn().back(), At(2 * c.gapMs));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForwardPacingTest,
    ::testing::Values(TPacingCase{1.0, 40, 4, 40}, TPacingCase{1.0, 40, 6, 30},
                      TPacingCase{1.0, 40, 2, 50}, TPacingCase{2.0, 40, 4, 20},
                      TPacingCase{0.5, 40, 4, 80},
                      TPacingCase{0.25, 4000, 4, 10000}));  // capped

TEST_F(RenderThrottleTest, AJumpInTheStampsIsNotWaitedOut) {
  throttle_.SetSpeed(1.0);
  for (int ms : {0, 40, 80, 5080, 5120, 5160, 5200}) Push(ms);
  clock_.AdvanceMs(1000);
  TickSleepMs();
  TickSleepMs();
  TickSleepMs();
  EXPECT_EQ(TickSleepMs(), 10);  // the picture 5 s later
  EXPECT_EQ(Drawn().back(), At(5080));
}

TEST_F(RenderThrottleTest, PrebufferWaitsUpToOneSecondForFourPictures) {
  throttle_.SetSpeed(1.0);
  Push(0);
  const TDateTime pushedAt = clock_.Now();
  throttle_.RenderTick();
  ASSERT_EQ(draws_->Count(), 1u);
  EXPECT_GE(MillisecondsBetween(draws_->Draws()[0].DrawnAt, pushedAt), 999);
  EXPECT_LE(MillisecondsBetween(draws_->Draws()[0].DrawnAt, pushedAt), 1010);
}

TEST_F(RenderThrottleTest, FourQueuedPicturesAreDrawnWithoutPrebufferWait) {
  throttle_.SetSpeed(1.0);
  for (int ms : {0, 40, 80, 120}) Push(ms);
  const TDateTime pushedAt = clock_.Now();
  throttle_.RenderTick();
  ASSERT_EQ(draws_->Count(), 1u);
  EXPECT_EQ(draws_->Draws()[0].DrawnAt, pushedAt);
}

TEST_F(RenderThrottleTest, WhilePausedPushDrawsAtOnceAndTicksDrawNothing) {
  Push(0);
  Push(40);
  EXPECT_EQ(Drawn(), (std::vector<TDateTime>{At(0), At(40)}));
  clock_.AdvanceMs(2000);
  EXPECT_EQ(TickSleepMs(), 10);
  EXPECT_EQ(draws_->Count(), 2u);
}

TEST_F(RenderThrottleTest, SlowBackwardPlayReversesEachRunAndPacesByTheClock) {
  // Paused on 03.0, then slow backward: the player re-reads that frame as a
  // run of its own, which the first backward jump discards.
  throttle_.SetSpeed(0.0);
  Push(3000);
  throttle_.SetSpeed(-0.5);
  Push(3000);
  Push(1000);
  for (int ms : {1200, 1400, 1600, 1800}) Push(ms);
  Push(0);  // starts the next run
  EXPECT_EQ(throttle_.PendingCount(), 5);
  clock_.AdvanceMs(2000);

  throttle_.RenderTick();  // resynchronises at 01.8 and draws it
  const TDateTime resyncAt = draws_->Draws().back().DrawnAt;
  // 01.6 lies 0.2 s before the resynchronisation stamp: due 0.4 s later.
  while (draws_->Count() < 3) throttle_.RenderTick();
  EXPECT_EQ(MsBetween(draws_->Draws()[2].DrawnAt, resyncAt), 400);
  while (draws_->Count() < 6) throttle_.RenderTick();
  EXPECT_EQ(Drawn(),
            (std::vector<TDateTime>{At(3000), At(1800), At(1600), At(1400), At(1200), At(1000)}));
  // The backward clock never sleeps more than 10 ms.
  clock_.TakeSleeps();
  Push(-200);  // moves the run starting at 00.0 into the display buffer
  for (int i = 0; i < 50; ++i) throttle_.RenderTick();
  for (auto ms : clock_.TakeSleeps()) EXPECT_LE(ms, 10);
}

TEST_F(RenderThrottleTest, FinishRunQueuesTheLastBackwardRun) {
  throttle_.SetSpeed(-1.0);
  Push(1000);
  Push(1040);
  Push(1080);
  EXPECT_EQ(throttle_.PendingCount(), 0);
  throttle_.FinishRun();
  EXPECT_EQ(throttle_.PendingCount(), 3);
  throttle_.RenderAllPending();
  EXPECT_EQ(Drawn(), (std::vector<TDateTime>{At(1080), At(1040), At(1000)}));
}

TEST_F(RenderThrottleTest, FastBackwardPlayDrawsInPushOrderWithoutWaiting) {
  throttle_.SetSpeed(-4.0);
  for (int ms : {4000, 3000, 2000, 1000}) Push(ms);
  clock_.AdvanceMs(1000);  // past the prebuffer second
  for (int i = 0; i < 4; ++i) EXPECT_LE(TickSleepMs(), 15);
  EXPECT_EQ(Drawn(), (std::vector<TDateTime>{At(4000), At(3000), At(2000), At(1000)}));
}

TEST_F(RenderThrottleTest, ReversingTheDirectionFlushesButPausingDoesNot) {
  throttle_.SetSpeed(1.0);
  Push(0);
  Push(40);
  throttle_.SetSpeed(-1.0);
  EXPECT_EQ(throttle_.PendingCount(), 0);
  EXPECT_FALSE(throttle_.IsRenderThreadRunning());

  throttle_.SetSpeed(1.0);
  Push(1000);
  Push(1040);
  throttle_.SetSpeed(0.0);
  EXPECT_EQ(throttle_.PendingCount(), 2);
  EXPECT_TRUE(throttle_.RenderNext());  // 01.0 on screen
  throttle_.SetSpeed(-1.0);
  EXPECT_EQ(throttle_.PendingCount(), 1);
  Push(1000);
  Push(1040);
  Push(0);  // first backward jump after a run around 01.0: flush
  EXPECT_EQ(throttle_.PendingCount(), 0);
}

// Switching to slow backward play drops the first run only when it holds the
// picture on screen; a first run elsewhere (a clip's last group after a jump
// to its end) is shown.
TEST_F(RenderThrottleTest, FirstBackwardRunIsDroppedOnlyAroundThePictureOnScreen) {
  struct TCase {
    const char* name;
    int onScreenMs;  // -1: nothing on screen
    int pendingAfterRun;
  };
  for (const TCase& c : {TCase{"nothing on screen", -1, 3}, TCase{"inside the run", 1040, 0},
                         TCase{"the run's last picture", 1080, 0}, TCase{"elsewhere", 5000, 3}}) {
    SCOPED_TRACE(c.name);
    TRenderThrottle throttle(RecordingRendererFactory(draws_, clock_),
                             RecordingWaveFactory(wave_, clock_), clock_,
                             TRenderThrottle::TThreadMode::kManualTicks);
    auto push = [&](int ms) {
      auto picture = TestPicture(At(ms));
      throttle.Push(TestPictureInfo(At(ms), 4, 4, 1), picture.data());
    };
    throttle.SetSpeed(0.0);
    if (c.onScreenMs >= 0) push(c.onScreenMs);  // drawn at once while paused
    throttle.SetSpeed(-1.0);
    for (int ms : {1000, 1040, 1080}) push(ms);
    push(0);  // the next run starts
    EXPECT_EQ(throttle.PendingCount(), c.pendingAfterRun);
  }
}

TEST_F(RenderThrottleTest, RenderAllPendingDrawsEverythingAndStopsTheThread) {
  throttle_.SetSpeed(1.0);
  for (int ms : {0, 40, 80}) Push(ms);
  EXPECT_TRUE(throttle_.IsRenderThreadRunning());
  throttle_.RenderAllPending();
  EXPECT_EQ(Drawn(), (std::vector<TDateTime>{At(0), At(40), At(80)}));
  EXPECT_FALSE(throttle_.IsRenderThreadRunning());
  Push(120);
  EXPECT_TRUE(throttle_.IsRenderThreadRunning());
}

TEST_F(RenderThrottleTest, AudioReopensTheOutputOnlyWhenTheFormatChanges) {
  std::vector<std::uint8_t> samples(320, 0);
  auto block = [&](int rate, bool valid) {
    TFrameInfo info{};
    info.IsAudio = true;
    info.DataSize = 320;
    info.AudioFormat = {valid, rate, 1, rate * 16};
    throttle_.Push(info, samples.data());
  };
  block(8000, true);
  block(8000, true);
  block(16000, true);
  block(16000, false);
  auto records = wave_->Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].Kind, TWaveRecord::kOpen);
  EXPECT_EQ(records[0].Format, (TWaveFormat{1, 8000, 16}));
  EXPECT_EQ(records[1].Kind, TWaveRecord::kWrite);
  EXPECT_EQ(records[2].Kind, TWaveRecord::kWrite);
  EXPECT_EQ(records[3].Kind, TWaveRecord::kOpen);
  EXPECT_EQ(records[3].Format.sampleRate, 16000);
  EXPECT_EQ(records[4].Size, 320);
  EXPECT_EQ(throttle_.PendingCount(), 0);  // audio never queues
}

TEST_F(RenderThrottleTest, WindowOverrideAppliesToLaterPushesOnly) {
  throttle_.SetSpeed(1.0);
  Push(0, 7);
  throttle_.SetWindowOverride(99, true);
  Push(40, 7);
  throttle_.SetWindowOverride(99, false);
  Push(80, 7);
  throttle_.RenderAllPending();
  auto draws = draws_->Draws();
  ASSERT_EQ(draws.size(), 3u);
  EXPECT_EQ(draws[0].Window, 7u);
  EXPECT_EQ(draws[1].Window, 99u);
  EXPECT_EQ(draws[2].Window, 7u);
}

TEST_F(RenderThrottleTest, SnapshotConvertsACopyOfThePictureOnScreen) {
  std::vector<std::uint8_t> bitmap;
  int width = -1;
  int height = -1;
  auto maker = [](const std::uint8_t* picture, int w, int h, std::vector<std::uint8_t>& out,
                  int& bw, int& bh) {
    out.assign(picture, picture + 8);
    bw = w;
    bh = h;
    return true;
  };
  throttle_.Snapshot(maker, bitmap, width, height);
  EXPECT_TRUE(bitmap.empty());
  EXPECT_EQ(width, 0);

  Push(40);  // paused: drawn at once
  throttle_.Snapshot(maker, bitmap, width, height);
  ASSERT_EQ(bitmap.size(), 8u);
  EXPECT_EQ(testing::TestPictureStamp(bitmap.data()), At(40));
  EXPECT_EQ(width, 4);

  throttle_.Snapshot(
      [](const std::uint8_t*, int, int, std::vector<std::uint8_t>& out, int&, int&) -> bool {
        out.push_back(1);
        throw std::runtime_error("conversion failed");
      },
      bitmap, width, height);
  EXPECT_TRUE(bitmap.empty());
  EXPECT_EQ(width, 0);
}

TEST_F(RenderThrottleTest, DropsPicturesThatCannotBeDrawn) {
  TFrameInfo info = TestPictureInfo(At(0), 16, 16);
  info.DataSize = 100;  // shorter than 16 x 16 x 3 / 2
  std::vector<std::uint8_t> bytes(100);
  throttle_.SetSpeed(1.0);
  throttle_.Push(info, bytes.data());
  EXPECT_EQ(throttle_.PendingCount(), 0);
  EXPECT_FALSE(throttle_.IsRenderThreadRunning());
}

// The real render thread on the real clock: pictures 40 ms apart reach the
// renderer in order at about their pace.
TEST(RenderThrottleThreaded, DrawsInOrderAtThePaceOfTheStamps) {
  auto draws = std::make_shared<TDrawLog>();
  {
    TRenderThrottle throttle(RecordingRendererFactory(draws), {});
    throttle.SetSpeed(1.0);
    const int kPictures = 20;
    for (int i = 0; i < kPictures; ++i) {
      auto picture = TestPicture(At(i * 40));
      throttle.Push(TestPictureInfo(At(i * 40)), picture.data());
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    for (int i = 0; i < 100 && draws->Count() < kPictures; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto records = draws->Draws();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kPictures));
    for (int i = 0; i < kPictures; ++i) EXPECT_EQ(records[i].PictureStamp, At(i * 40));
    const auto spanMs = MillisecondsBetween(records.back().DrawnAt, records[4].DrawnAt);
    EXPECT_GT(spanMs, 15 * 40 * 0.6);
    EXPECT_LT(spanMs, 15 * 40 * 1.6);
  }  // destruction stops the render thread
}

}  // namespace
}  // namespace ospry
