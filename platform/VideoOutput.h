#pragma once
// What the playback engine and the vendor library draw pictures through. The
// rendering layer provides the real renderer (OpenGL with a CPU fallback);
// tests provide recording ones. A frame buffer owns one renderer.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/WindowHandle.h"

namespace ospry {

class IYuvRenderer {
public:
  virtual ~IYuvRenderer() = default;
  // Draws one packed YV12 picture (luma rows of width bytes, then the Cr
  // plane, then the Cb plane, each (width / 2) x (height / 2)) stretched over
  // window. frameType is carried for callers' bookkeeping and not used for
  // drawing. Never throws; failures are handled inside.
  virtual void DrawFrame(const std::uint8_t* picture, int width, int height, int frameType,
                         TWindowHandle window) = 0;
  // Presents the last picture drawn again.
  virtual void Repaint() = 0;
};

using TRendererFactory = std::function<std::unique_ptr<IYuvRenderer>()>;

}  // namespace ospry
