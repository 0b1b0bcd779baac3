#pragma once
// TYUVRender: puts decoded YV12 pictures into render windows (U_RenderWindow.h),
// stretched over the whole window (no aspect correction, no overlay).
//
// Two paths. Accelerated: the packed picture is handed to the window, which
// uploads its three planes as textures and converts them with a BT.601 shader.
// Fallback: the renderer converts the picture on the CPU with the integer
// BT.601 formulas (YuvConvert.h) and hands the RGB picture to the window,
// which stretches it through its backing store. The first failure of the
// accelerated path (no OpenGL on the platform, or an OpenGL failure in a
// window this renderer drew into) switches the renderer to the fallback for
// the rest of its life. Failures are logged to the DEBUG category (set-up
// steps at level 2, failures while drawing at level 0) and never reported to
// callers; drawing never throws.
//
// Threading: not thread-safe. Its owner serialises the calls (a frame buffer
// calls it under its lock), which may come from any thread: the window presents
// on the main thread (see TRenderTarget). Handles that name no live window are
// ignored.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/VideoOutput.h"
#include "viewer/render/U_RenderWindow.h"
#include "viewer/render/YuvConvert.h"

namespace ospry {

class TYUVRender : public IYuvRenderer {
public:
  // Pictures larger than this in either direction are not drawn.
  static constexpr int kMaxPictureSide = 8192;

  // preferOpenGl false starts the renderer on the fallback path.
  explicit TYUVRender(bool preferOpenGl = true);
  ~TYUVRender() override = default;

  // Draws one packed YV12 picture (luma, then Cr, then Cb) into window.
  // frameType is not used. Pictures smaller than 2 x 2 or larger than
  // kMaxPictureSide are ignored.
  void DrawFrame(const std::uint8_t* picture, int width, int height, int frameType,
                 TWindowHandle window) override;
  // The same for a picture in three planes: luma rows of width bytes, chroma
  // rows of width / 2 bytes.
  void DrawPlanes(const std::uint8_t* luma, const std::uint8_t* cb, const std::uint8_t* cr,
                  int width, int height, int unused, TWindowHandle window);
  // Presents the last picture drawn into the last window again.
  void Repaint() override;

  bool IsFallback() const { return fallback_; }

private:
  void Draw(const TYuvPlanes& planes, int width, int height, TWindowHandle window);

  TWindowHandle window_ = kNoWindow;  // last window drawn into
  std::shared_ptr<TRenderTarget> target_;
  bool fallback_ = false;
  // The picture being built; swapped with the window's pending picture, so
  // its storage is reused from picture to picture.
  TRenderPicture staging_;
};

// Makes TYUVRender instances for the playback engine.
TRendererFactory MakeYuvRendererFactory(bool preferOpenGl = true);

}  // namespace ospry
