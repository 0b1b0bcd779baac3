#pragma once
// Renderers and wave outputs for tests: they note what was drawn or written,
// when (on the injected clock) and on which thread, into a log the test keeps
// while the engine owns the output itself.
//
// Test pictures are small YV12 pictures whose first eight bytes carry a
// date-time (the stamp of the frame they stand for), so a test can tell which
// picture reached the screen.
//
// Threading: the logs are thread-safe; outputs may be called on any thread.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/VideoOutput.h"
#include "platform/WaveOut.h"
#include "viewer/decoding/U_FrameInfo.h"

namespace ospry::testing {

struct TDrawRecord {
  TDateTime DrawnAt = 0;      // clock time of the draw
  TDateTime PictureStamp = 0; // the stamp carried in the picture
  int Width = 0;
  int Height = 0;
  int FrameType = 0;
  TWindowHandle Window = kNoWindow;
};

class TDrawLog {
public:
  void Add(const TDrawRecord& record);
  void AddRepaint();
  std::vector<TDrawRecord> Draws();
  std::vector<TDateTime> Stamps();  // PictureStamp of every draw, in order
  std::size_t Count();
  int Repaints();
  void Clear();

private:
  std::mutex lock_;
  std::vector<TDrawRecord> draws_;  // guarded by lock_
  int repaints_ = 0;                // guarded by lock_
};

// A renderer factory whose renderers write into log; clock is read for the
// time of each draw.
TRendererFactory RecordingRendererFactory(std::shared_ptr<TDrawLog> log,
                                          IClock& clock = SystemClock());

struct TWaveRecord {
  enum TKind { kOpen, kWrite, kClose } Kind = kOpen;
  TWaveFormat Format;  // kOpen
  std::int32_t Size = 0;  // kWrite
  TDateTime At = 0;
};

class TWaveLog {
public:
  void Add(const TWaveRecord& record);
  std::vector<TWaveRecord> Records();

private:
  std::mutex lock_;
  std::vector<TWaveRecord> records_;  // guarded by lock_
};

TWaveOutputFactory RecordingWaveFactory(std::shared_ptr<TWaveLog> log,
                                        IClock& clock = SystemClock());

// A drawable picture record of width x height carrying stamp, and its payload.
TFrameInfo TestPictureInfo(TDateTime stamp, int width = 4, int height = 4,
                           TWindowHandle window = 1);
std::vector<std::uint8_t> TestPicture(TDateTime stamp, int width = 4, int height = 4);
TDateTime TestPictureStamp(const std::uint8_t* picture);

}  // namespace ospry::testing
