#pragma once
// One channel as the main window builds it, for the engine's end-to-end
// tests: a file player, a render throttle whose renderer records each picture
// (and passes it on to a real renderer when one is given), and the handlers
// that move on through a list of clips. "Decoding" makes the test picture
// that carries the frame's stamp.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "tests/playback/RecordingOutputs.h"
#include "viewer/playback/U_FilePlayer.h"
#include "viewer/playback/U_RenderThrottle.h"

namespace ospry::testing {

// Each picture to the recording renderer, then to the real one.
class TChainedRenderer final : public IYuvRenderer {
public:
  TChainedRenderer(std::unique_ptr<IYuvRenderer> recording, std::unique_ptr<IYuvRenderer> real)
      : recording_(std::move(recording)), real_(std::move(real)) {}
  void DrawFrame(const std::uint8_t* picture, int width, int height, int frameType,
                 TWindowHandle window) override {
    recording_->DrawFrame(picture, width, height, frameType, window);
    if (real_) real_->DrawFrame(picture, width, height, frameType, window);
  }
  void Repaint() override {
    recording_->Repaint();
    if (real_) real_->Repaint();
  }

private:
  std::unique_ptr<IYuvRenderer> recording_;
  std::unique_ptr<IYuvRenderer> real_;
};

class TPlayListChannel {
public:
  // Pictures are width x height, for window; realRenderers may be empty.
  TPlayListChannel(std::vector<IQuernVideoSource*> playlist, TRendererFactory realRenderers = {},
                   int width = 4, int height = 4, TWindowHandle window = 1)
      : playlist_(std::move(playlist)),
        draws_(std::make_shared<TDrawLog>()),
        throttle_(
            [draws = draws_, realRenderers]() -> std::unique_ptr<IYuvRenderer> {
              return std::make_unique<TChainedRenderer>(RecordingRendererFactory(draws)(),
                                                        realRenderers ? realRenderers() : nullptr);
            },
            {}) {
    player_.SetOnFrame([this, width, height, window](std::int32_t, const TFrameHeader& header,
                                                     const std::uint8_t*) {
      if (header.FrameType == kFrameStreamHeader) return;
      auto picture = TestPicture(header.Stamp, width, height);
      throttle_.Push(TestPictureInfo(header.Stamp, width, height, window), picture.data());
    });
    player_.SetOnFlush([this] { throttle_.RenderAllPending(); });
    player_.SetOnClipEnd([this](IVideoSourcePlayer* player, IQuernBasicSource* ended, bool backward) {
      std::lock_guard<std::mutex> guard(lock_);
      if (ended != playlist_[current_]) return;
      const int next = static_cast<int>(current_) + (backward ? -1 : 1);
      if (next < 0 || next >= static_cast<int>(playlist_.size())) {
        if (!finished_ && backward) throttle_.FinishRun();
        finished_ = true;
        return;
      }
      current_ = static_cast<std::size_t>(next);
      player->RemoveAllSources();
      if (backward)
        playlist_[current_]->GoToEnd();
      else
        playlist_[current_]->GoToStart();
      player->AddSource(playlist_[current_]);
    });
  }

  // Plays the whole list at speed from its start (or its end going backward)
  // and waits, calling idle (which lets about 10 ms pass), until the last clip
  // ended and the pictures were drawn.
  void PlayAll(double speed, const std::function<void()>& idle) {
    using namespace std::chrono_literals;
    current_ = speed < 0 ? playlist_.size() - 1 : 0;
    for (auto* source : playlist_) source->SetSpeed(speed);
    if (speed < 0)
      playlist_[current_]->GoToEnd();
    else
      playlist_[current_]->GoToStart();
    player_.AddSource(playlist_[current_]);
    throttle_.SetSpeed(speed);
    player_.PlayAtSpeed(speed);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!Finished() && std::chrono::steady_clock::now() < deadline) idle();
    player_.Pause();
    // The last pictures leave the queue (after the prebuffer second at most).
    const auto drained = std::chrono::steady_clock::now() + 2s;
    while (throttle_.PendingCount() > 0 && std::chrono::steady_clock::now() < drained) idle();
  }
  bool Finished() {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
  }
  std::vector<TDrawRecord> Draws() { return draws_->Draws(); }

private:
  std::vector<IQuernVideoSource*> playlist_;
  std::shared_ptr<TDrawLog> draws_;
  TRenderThrottle throttle_;
  TFilePlayer player_;  // destroyed first: its thread pushes into the throttle
  std::mutex lock_;
  std::size_t current_ = 0;  // guarded by lock_
  bool finished_ = false;    // guarded by lock_
};

// Pictures were drawn in stamp order in the playing direction, across the
// clip boundaries, and every clip reached the screen.
inline void ExpectPlayedInOrder(const std::vector<TDrawRecord>& draws, double speed,
                                const TTimeSegments& clipRanges) {
  for (std::size_t i = 1; i < draws.size(); ++i) {
    if (speed > 0)
      EXPECT_GE(draws[i].PictureStamp, draws[i - 1].PictureStamp) << "picture " << i;
    else
      EXPECT_LE(draws[i].PictureStamp, draws[i - 1].PictureStamp) << "picture " << i;
  }
  for (const auto& range : clipRanges) {
    bool seen = false;
    for (const auto& draw : draws)
      seen = seen || (draw.PictureStamp >= range.Start && draw.PictureStamp <= range.End);
    EXPECT_TRUE(seen) << "clip at " << range.Start;
  }
}

}  // namespace ospry::testing
