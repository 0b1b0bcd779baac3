#include <gtest/gtest.h>

#include "tests/playback/RecordingOutputs.h"
#include "viewer/playback/U_FrameBuffer.h"

namespace ospry {
namespace {

using testing::RecordingRendererFactory;
using testing::TDrawLog;
using testing::TestPicture;
using testing::TestPictureInfo;

constexpr TDateTime kBase = 46000.5;
TDateTime At(int ms) { return kBase + ms / kMsPerDay; }

class FrameBufferTest : public ::testing::Test {
protected:
  explicit FrameBufferTest(int capacity = 16)
      : log_(std::make_shared<TDrawLog>()),
        buffer_(capacity, RecordingRendererFactory(log_)()) {}

  void PushPicture(int ms, int width = 4, int height = 4) { PushInto(buffer_, ms, width, height); }
  static void PushInto(TFrameBuffer& buffer, int ms, int width = 4, int height = 4) {
    auto picture = TestPicture(At(ms), width, height);
    buffer.Push(TestPictureInfo(At(ms), width, height), picture.data());
  }
  std::vector<TDateTime> Drawn() { return log_->Stamps(); }

  std::shared_ptr<TDrawLog> log_;
  TFrameBuffer buffer_;
};

TEST_F(FrameBufferTest, NewBufferHasNothingToDrawPopOrStepBackTo) {
  EXPECT_EQ(buffer_.Count(), 0);
  EXPECT_EQ(buffer_.Capacity(), 16);
  EXPECT_FALSE(buffer_.RenderNext());
  TFrameInfo header;
  const std::uint8_t* payload = nullptr;
  EXPECT_FALSE(buffer_.PopNewest(header, payload));
  buffer_.StepBack();
  buffer_.PeekDisplayed(header, payload);
  EXPECT_EQ(header.DataSize, 0);
  EXPECT_EQ(log_->Count(), 0u);
}

TEST_F(FrameBufferTest, FullRingDoublesInsteadOfDroppingAndDrawsInOrder) {
  for (int i = 0; i < 15; ++i) PushPicture(i);
  EXPECT_EQ(buffer_.Capacity(), 16);
  EXPECT_EQ(buffer_.Count(), 15);
  PushPicture(15);
  EXPECT_EQ(buffer_.Capacity(), 32);
  EXPECT_EQ(buffer_.Count(), 16);
  for (int i = 16; i < 32; ++i) PushPicture(i);
  EXPECT_EQ(buffer_.Capacity(), 64);
  while (buffer_.RenderNext()) {
  }
  std::vector<TDateTime> expected;
  for (int i = 0; i < 32; ++i) expected.push_back(At(i));
  EXPECT_EQ(Drawn(), expected);
}

TEST_F(FrameBufferTest, SteadyPushAndDrawReusesTheRing) {
  for (int i = 0; i < 200; ++i) {
    PushPicture(i, i % 2 ? 8 : 4, i % 2 ? 8 : 4);  // alternate sizes reuse larger slots
    ASSERT_TRUE(buffer_.RenderNext());
  }
  EXPECT_EQ(buffer_.Capacity(), 16);
  auto draws = log_->Draws();
  ASSERT_EQ(draws.size(), 200u);
  EXPECT_EQ(draws[198].Width, 4);
  EXPECT_EQ(draws[199].Width, 8);
  EXPECT_EQ(draws[198].PictureStamp, At(198));
}

TEST_F(FrameBufferTest, MoveAllFromReversesTheRunAndEmptiesTheSource) {
  TFrameBuffer staging(16, nullptr);
  for (int ms : {1, 2, 3}) PushInto(staging, ms);
  buffer_.MoveAllFrom(staging);
  EXPECT_EQ(staging.Count(), 0);
  EXPECT_EQ(buffer_.Count(), 3);
  while (buffer_.RenderNext()) {
  }
  EXPECT_EQ(Drawn(), (std::vector<TDateTime>{At(3), At(2), At(1)}));
}

TEST_F(FrameBufferTest, StepBackDrawsThePreviousPictureThenRenderNextReturns) {
  for (int i = 1; i <= 5; ++i) PushPicture(i);
  for (int i = 1; i <= 5; ++i) ASSERT_TRUE(buffer_.RenderNext());
  buffer_.StepBack();
  EXPECT_EQ(Drawn().back(), At(4));
  buffer_.StepBack();
  EXPECT_EQ(Drawn().back(), At(3));
  ASSERT_TRUE(buffer_.RenderNext());
  EXPECT_EQ(Drawn().back(), At(4));
  ASSERT_TRUE(buffer_.RenderNext());
  EXPECT_EQ(Drawn().back(), At(5));
  EXPECT_FALSE(buffer_.RenderNext());
}

class SmallFrameBufferTest : public FrameBufferTest {
protected:
  SmallFrameBufferTest() : FrameBufferTest(2) {}
};

TEST_F(SmallFrameBufferTest, StepBackStopsAtTheWritePosition) {
  PushPicture(1);
  ASSERT_TRUE(buffer_.RenderNext());
  buffer_.StepBack();  // the node two back is the write position
  EXPECT_EQ(log_->Count(), 1u);
}

TEST_F(FrameBufferTest, UndrawablePicturesArePassedOverNotStuckOn) {
  PushPicture(1);
  TFrameInfo shortPayload = TestPictureInfo(At(2), 8, 8);
  shortPayload.DataSize = 10;  // far less than 8 x 8 x 3 / 2
  auto bytes = TestPicture(At(2), 8, 8);
  buffer_.Push(shortPayload, bytes.data());
  TFrameInfo empty = TestPictureInfo(At(3));
  buffer_.Push(empty, nullptr);
  PushPicture(4);
  EXPECT_TRUE(buffer_.RenderNext());
  EXPECT_TRUE(buffer_.RenderNext());
  EXPECT_FALSE(buffer_.RenderNext());
  EXPECT_EQ(Drawn(), (std::vector<TDateTime>{At(1), At(4)}));
  EXPECT_EQ(buffer_.Count(), 0);
}

TEST_F(FrameBufferTest, CopyDisplayedKeepsThePictureWhileTheRingIsOverwritten) {
  PushPicture(1);
  ASSERT_TRUE(buffer_.RenderNext());
  TFrameInfo header;
  std::vector<std::uint8_t> copy;
  ASSERT_TRUE(buffer_.CopyDisplayed(header, copy));
  for (int i = 2; i < 40; ++i) {
    PushPicture(i);
    buffer_.RenderNext();
  }
  EXPECT_EQ(header.Stamp, At(1));
  EXPECT_EQ(testing::TestPictureStamp(copy.data()), At(1));
  EXPECT_EQ(copy.size(), 24u);
}

TEST_F(FrameBufferTest, ClearReturnsToANewRing) {
  for (int i = 0; i < 40; ++i) PushPicture(i);
  buffer_.RenderNext();
  buffer_.Clear();
  EXPECT_EQ(buffer_.Count(), 0);
  EXPECT_EQ(buffer_.Capacity(), 16);
  EXPECT_FALSE(buffer_.RenderNext());
  TFrameInfo header;
  std::vector<std::uint8_t> copy;
  EXPECT_FALSE(buffer_.CopyDisplayed(header, copy));
}

}  // namespace
}  // namespace ospry
