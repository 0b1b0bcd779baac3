#pragma once
// The frame ring of one view: pictures waiting to be drawn, and behind them
// the pictures already shown, kept for stepping back while paused.
//
// Pending frames run from the read position (included) to the write position
// (excluded). The node before the read position holds the picture on screen;
// the nodes before it hold older pictures until the write position reaches
// them. A push into a full ring doubles it, so the producer never waits and no
// frame is dropped. Nodes keep their frame objects, so steady-state play does
// not allocate.
//
// Only drawable pictures are drawn: width and height above 0 and a payload of
// at least width x height x 3 / 2 bytes. RenderNext passes over a pending
// frame that is not drawable instead of stopping at it for ever.
//
// Threading: every operation takes the buffer's lock for its whole duration
// (Clear frees the old ring after releasing it), so any thread may call any
// operation. The renderer is only ever called with the lock held. Callers that
// hold the render throttle's lock take this lock second.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/VideoOutput.h"
#include "viewer/decoding/U_FrameInfo.h"
#include "viewer/playback/U_LinkedList.h"

namespace ospry {

class TFrameBuffer {
public:
  // renderer may be null for a buffer that is never drawn (a staging buffer);
  // RenderNext then advances without drawing.
  TFrameBuffer(int initialCapacity, std::unique_ptr<IYuvRenderer> renderer);
  ~TFrameBuffer();
  TFrameBuffer(const TFrameBuffer&) = delete;
  TFrameBuffer& operator=(const TFrameBuffer&) = delete;

  // Stores a copy of the frame at the write position and advances it.
  void Push(const TFrameInfo& header, const std::uint8_t* payload);
  // Takes back the most recently pushed pending frame. payload points into the
  // buffer and stays valid until that node is written again; callers must make
  // sure nobody pushes into this buffer meanwhile. False when nothing is
  // pending.
  bool PopNewest(TFrameInfo& header, const std::uint8_t*& payload);
  // The record of the next frame to draw; all zero when there is none.
  TFrameInfo PeekNextHeader();
  // Draws the next pending drawable picture and advances past it. False when
  // no drawable picture is pending.
  bool RenderNext();
  // Draws the picture shown before the one on screen; nothing when there is
  // none left.
  void StepBack();
  // The picture on screen; header.DataSize is 0 when there is none. payload
  // is valid only until the next push; prefer CopyDisplayed.
  void PeekDisplayed(TFrameInfo& header, const std::uint8_t*& payload);
  // Copies the picture on screen under the lock; false when there is none.
  bool CopyDisplayed(TFrameInfo& header, std::vector<std::uint8_t>& picture);
  // Number of pending frames.
  int Count();
  // Number of nodes of the ring.
  int Capacity();
  // Moves every pending frame of other here, newest first (so a run arrives
  // reversed). Takes one buffer's lock at a time, never both; nobody else may
  // push into other meanwhile.
  void MoveAllFrom(TFrameBuffer& other);
  // Back to the state after construction.
  void Clear();
  // Presents the renderer's last picture again.
  void Repaint();

private:
  bool RenderNextLocked();

  const int initialCapacity_;
  std::mutex lock_;
  std::unique_ptr<IYuvRenderer> renderer_;  // guarded by lock_
  std::unique_ptr<TLinkedList> ring_;       // guarded by lock_
  TLink* writePos_;                         // guarded by lock_
  TLink* readPos_;                          // guarded by lock_
};

// Whether a picture record with its payload can be drawn safely.
bool IsDrawablePicture(const TFrameInfo& header);

}  // namespace ospry
