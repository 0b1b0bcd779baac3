#pragma once
// Render windows: the windows pictures are drawn into, named everywhere else by
// a TWindowHandle.
//
// A TRenderWindow is a QWindow (Qt GUI only; the user interface embeds it with
// QWidget::createWindowContainer). It never paints a background of its own,
// keeps showing the last picture it was given, repaints that picture itself
// when the system exposes or resizes it, and then also tells its owner through
// the repaint handler.
//
// Drawing from any thread: a renderer submits a picture to the window's
// TRenderTarget. Off the main thread the picture is handed over (the target
// keeps only the newest one) and the main thread is woken to present it (an
// eventfd its event loop watches); on the main thread it is presented at
// once. All OpenGL and backing-store work happens on the main thread only, so
// a picture is never presented while it is being replaced (no tearing) and
// each submitted picture is presented at most once (one replaced before the
// main thread came round is skipped).
//
// Presentation: when OpenGL is available, the window owns an OpenGL context
// (swap interval 0) and converts YV12 pictures with a BT.601 shader,
// stretching them over the whole window; pictures that are already RGB (the
// CPU path) and every picture after an OpenGL failure are stretched through a
// backing store instead. The first OpenGL failure switches the window to the
// backing store for the rest of its life.
//
// Handles are numbers handed out by the registry, never reused during a run;
// a handle whose window is gone finds nothing, and drawing into it does
// nothing.
//
// Locks: the registry's lock and each target's lock are innermost (nothing is
// called while holding them); callers may hold their own locks (frame buffer)
// when they submit.
#include <QWindow>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/WindowHandle.h"

class QBackingStore;
class QOpenGLContext;
class QOpenGLShaderProgram;
class QSocketNotifier;

namespace ospry {

class TRenderWindow;

// One picture in flight to a window.
struct TRenderPicture {
  enum class TKind { None, Yv12, Rgb32 };
  TKind kind = TKind::None;
  int width = 0;
  int height = 0;
  // Yv12: packed planes (luma, Cr, Cb). Rgb32: width x height words
  // 0xFFRRGGBB, top row first. Capacity is kept when pictures are swapped.
  std::vector<std::uint8_t> bytes;
};

// How a window has presented so far (main thread reads; for tests and
// benchmarks).
struct TRenderWindowStats {
  int openGlPresents = 0;   // pictures drawn through the shader
  int rasterPresents = 0;   // pictures drawn through the backing store
  int surfaceBuilds = 0;    // times the textures were (re)made for a picture size
};

// The part of a render window that other threads touch. Shared between the
// window and the registry's lookups so that a draw racing with the window's
// destruction finds a detached target instead of a dangling window.
class TRenderTarget {
public:
  TRenderTarget(TWindowHandle handle, bool openGlCapable)
      : handle_(handle), openGlCapable_(openGlCapable) {}

  TWindowHandle Handle() const { return handle_; }
  // Whether the window was created for OpenGL and has not failed since.
  bool AcceptsYv12() const { return openGlCapable_ && !openGlFailed_.load(); }
  bool OpenGlFailed() const { return openGlFailed_.load(); }

  // Any thread. Swaps picture with the pending one (picture receives the old
  // buffer back for reuse) and presents it: at once on the main thread,
  // otherwise by waking the main thread to present it. Returns false when
  // the window is gone.
  bool Submit(TRenderPicture& picture);
  // Any thread. Presents the window's current picture again.
  void RequestRepaint();

private:
  friend class TRenderWindow;
  void Detach();
  void MarkOpenGlFailed() { openGlFailed_.store(true); }
  // Main thread: moves the pending picture into current (false when none)
  // and takes a repaint request made from another thread.
  bool TakePending(TRenderPicture& current, bool& repaintRequested);

  const TWindowHandle handle_;
  const bool openGlCapable_;
  std::atomic<bool> openGlFailed_{false};
  std::mutex lock_;
  TRenderWindow* window_ = nullptr;  // guarded by lock_; cleared when the window goes
  TRenderPicture pending_;           // guarded by lock_
  bool hasPending_ = false;          // guarded by lock_
  bool repaintRequested_ = false;    // guarded by lock_
  bool wakePending_ = false;         // guarded by lock_; the main thread has been woken
};

// Thread-safe map from handles to the targets of live windows.
class TRenderWindowRegistry {
public:
  static std::shared_ptr<TRenderTarget> Find(TWindowHandle handle);

private:
  friend class TRenderWindow;
  static std::shared_ptr<TRenderTarget> Add(bool openGlCapable);
  static void Remove(TWindowHandle handle);
};

// True when the running Qt platform can give render windows an OpenGL context
// (false on "offscreen" and "minimal", or when no context can be made).
// Main thread; needs a QGuiApplication. The answer is computed once.
bool OpenGlAvailable();

// Main thread only (create, show, resize, destroy), except Handle().
class TRenderWindow : public QWindow {
public:
  // preferOpenGl false makes a window that presents through the backing store
  // only, also where OpenGL is available.
  explicit TRenderWindow(QWindow* parent = nullptr, bool preferOpenGl = true);
  ~TRenderWindow() override;

  TWindowHandle Handle() const { return handle_; }
  bool UsesOpenGl() const { return target_->AcceptsYv12(); }
  const TRenderWindowStats& Stats() const { return stats_; }

  // Called on the main thread after the window repainted itself for the
  // system (expose, resize).
  void SetRepaintHandler(std::function<void()> handler) { repaintHandler_ = std::move(handler); }

  // Test hook: the next OpenGL present fails as a driver failure would.
  void InjectOpenGlFailure() { injectFailure_ = true; }

protected:
  void exposeEvent(QExposeEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

private:
  friend class TRenderTarget;
  // Any thread, with the target's lock held: wakes the main thread, which
  // then runs OnWake.
  void Wake();
  // Main thread: presents the pending picture, or the current one again when
  // a repaint was requested.
  void OnWake();
  // Main thread: presents the pending picture, if any.
  void PresentPending();
  void PresentCurrent();
  bool PresentOpenGl();
  void PresentRaster();
  bool InitOpenGl();
  void ReleaseOpenGl();
  // Logs message and code at level, switches the window to the backing store
  // for good and releases the OpenGL objects.
  void FailOpenGl(const char* message, int code, int level);

  std::shared_ptr<TRenderTarget> target_;
  TWindowHandle handle_ = kNoWindow;
  std::function<void()> repaintHandler_;
  TRenderPicture current_;  // the picture on screen
  TRenderWindowStats stats_;
  bool injectFailure_ = false;

  // OpenGL state; exists only while the window presents with OpenGL.
  std::unique_ptr<QOpenGLContext> context_;
  std::unique_ptr<QOpenGLShaderProgram> program_;
  unsigned int textures_[3] = {0, 0, 0};  // luma, Cb, Cr
  int textureWidth_ = 0;
  int textureHeight_ = 0;
  bool texturesHoldCurrent_ = false;
  bool lumaFormatRed_ = false;  // GL_RED on core profiles, GL_LUMINANCE otherwise

  int wakeFd_ = -1;  // eventfd counter; written by drawing threads, read on the main thread
  std::unique_ptr<QSocketNotifier> wakeNotifier_;

  // Backing-store state.
  std::unique_ptr<QBackingStore> backingStore_;
  std::vector<std::uint32_t> rgbScratch_;  // YV12 pictures converted after an OpenGL failure
};

}  // namespace ospry
