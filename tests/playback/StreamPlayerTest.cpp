#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/playback/U_StreamPlayer.h"

namespace ospry {
namespace {

// A stream that notes the calls it receives and lets the test call back.
class TFakeStream final : public IQuernSeekableStream {
public:
  TFakeStream() : IQuernSeekableStream(3, "stream") {}
  bool GetClipInfo(std::string&, std::string&, TDateTime&, TDateTime&) override { return false; }
  TDateTime GetPosition() override { return position; }
  bool VerifyFrames(TFrameError&) override { return true; }
  void SetOnData(TDataHandler handler) override { onData = std::move(handler); }
  bool Play() override { return Note("Play"); }
  bool Start(const TVideoSourceOptions&) override { return Note("Start"); }
  bool Stop() override { return Note("Stop"); }
  void SetSpeed(double speed) override { Note("SetSpeed " + std::to_string(speed)); }
  void Faster() override { Note("Faster"); }
  void Slower() override { Note("Slower"); }
  double GetSpeed() override { return 1.0; }
  TDateTime Seek(TDateTime time) override {
    Note("Seek " + std::to_string(time));
    return 0;
  }
  TDateTime GoToStart() override { return 0; }
  TDateTime GoToEnd() override { return 0; }
  bool Pause() override {
    Active = false;
    return Note("Pause");
  }
  bool Resume() override {
    Active = true;
    return Note("Resume");
  }

  bool Note(const std::string& call) {
    calls.push_back(call);
    return true;
  }
  std::vector<std::string> calls;
  TDataHandler onData;
  TDateTime position = 100.0;
};

class StreamPlayerTest : public ::testing::Test {
protected:
  StreamPlayerTest() : clock_(46001.75), player_(&stream_, clock_) {
    player_.SetOnFrame([this](std::int32_t id, const TFrameHeader& header, const std::uint8_t* data) {
      ids_.push_back(id);
      headers_.push_back(header);
      payloads_.emplace_back(data, data + header.DataSize);
    });
  }
  TFakeStream stream_;
  TManualClock clock_;
  TStreamPlayer player_;
  std::vector<std::int32_t> ids_;
  std::vector<TFrameHeader> headers_;
  std::vector<std::vector<std::uint8_t>> payloads_;
};

TEST_F(StreamPlayerTest, PacketsBecomeFrameEvents) {
  ASSERT_TRUE(stream_.onData);
  const std::uint8_t bytes[] = {1, 2, 3};
  stream_.onData({7, 2, kFrameKey, 46000.5, true}, bytes, 3);
  stream_.onData({7, 0, kFrameKey, 46000.5, false}, nullptr, 0);
  ASSERT_EQ(headers_.size(), 2u);
  EXPECT_EQ(ids_[0], 7);
  EXPECT_EQ(headers_[0].StreamKind, 2);
  EXPECT_EQ(headers_[0].DataSize, 3);
  EXPECT_EQ(headers_[0].Stamp, 46000.5);
  EXPECT_EQ(payloads_[0], (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(headers_[1].DataSize, 0);
  EXPECT_EQ(headers_[1].Stamp, 46001.75);  // no valid stamp: the current time
  EXPECT_TRUE(payloads_[1].empty());
}

TEST_F(StreamPlayerTest, ControlsAreForwardedToTheStream) {
  stream_.SetActive(true);
  player_.SetSpeed(0.0);  // passed on without unpausing first
  player_.SetPaused(true);
  player_.SetSpeed(2.0);  // unpauses first
  player_.StepForward();  // nothing
  player_.PlayAtSpeed(4.0);
  EXPECT_TRUE(player_.Seek(101.0));
  player_.SeekRelative(0.5);
  player_.Stop();
  EXPECT_EQ(stream_.calls,
            (std::vector<std::string>{"SetSpeed 0.000000", "Pause", "Resume", "SetSpeed 2.000000",
                                      "SetSpeed 4.000000", "Play", "Seek 101.000000",
                                      "Seek 100.500000", "Stop"}));
  EXPECT_FALSE(player_.IsPaused());
  EXPECT_EQ(player_.GetLastError(), "");
}

TEST(StreamPlayer, RemovesItsHandlerWhenDestroyed) {
  TFakeStream stream;
  { TStreamPlayer player(&stream); }
  EXPECT_FALSE(stream.onData);
}

}  // namespace
}  // namespace ospry
