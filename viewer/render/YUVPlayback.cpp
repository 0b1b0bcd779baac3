#include "viewer/render/YUVPlayback.h"

#include <cstring>

#include "viewer/render/RenderLog.h"
#include "viewer/render/YuvConvert.h"

namespace ospry {

TYUVRender::TYUVRender(bool preferOpenGl) : fallback_(!preferOpenGl) {}

void TYUVRender::DrawFrame(const std::uint8_t* picture, int width, int height, int,
                           TWindowHandle window) {
  if (!picture || width < 2 || height < 2 || width > kMaxPictureSide || height > kMaxPictureSide)
    return;
  Draw(PackedYv12Planes(picture, width, height), width, height, window);
}

void TYUVRender::DrawPlanes(const std::uint8_t* luma, const std::uint8_t* cb,
                            const std::uint8_t* cr, int width, int height, int,
                            TWindowHandle window) {
  if (!luma || !cb || !cr || width < 2 || height < 2 || width > kMaxPictureSide ||
      height > kMaxPictureSide)
    return;
  TYuvPlanes planes;
  planes.luma = luma;
  planes.cb = cb;
  planes.cr = cr;
  planes.lumaStride = width;
  planes.chromaStride = width / 2;
  Draw(planes, width, height, window);
}

void TYUVRender::Draw(const TYuvPlanes& planes, int width, int height, TWindowHandle window) {
  try {
    if (window != window_ || !target_) {
      target_ = TRenderWindowRegistry::Find(window);
      window_ = window;
    }
    if (!target_) return;
    if (!fallback_ && !target_->AcceptsYv12()) {
      fallback_ = true;
      // A window that failed has logged its own failure already.
      if (!target_->OpenGlFailed())
        render::LogDebug("TYUVRender.InitOpenGL: Failed at create context: no OpenGL on this platform", 2);
    }

    if (fallback_) {
      const int evenWidth = width & ~1, evenHeight = height & ~1;
      staging_.kind = TRenderPicture::TKind::Rgb32;
      staging_.width = evenWidth;
      staging_.height = evenHeight;
      staging_.bytes.resize(static_cast<std::size_t>(evenWidth) * evenHeight * 4);
      ConvertYuvToRgb32(planes, width, height,
                        reinterpret_cast<std::uint32_t*>(staging_.bytes.data()), evenWidth * 4);
    } else {
      const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
      const std::size_t chromaSize = static_cast<std::size_t>(width / 2) * (height / 2);
      staging_.kind = TRenderPicture::TKind::Yv12;
      staging_.width = width;
      staging_.height = height;
      staging_.bytes.resize(lumaSize + 2 * chromaSize);
      std::uint8_t* out = staging_.bytes.data();
      if (planes.luma + lumaSize == planes.cr && planes.cr + chromaSize == planes.cb) {
        std::memcpy(out, planes.luma, lumaSize + 2 * chromaSize);  // already packed
      } else {
        std::memcpy(out, planes.luma, lumaSize);
        std::memcpy(out + lumaSize, planes.cr, chromaSize);
        std::memcpy(out + lumaSize + chromaSize, planes.cb, chromaSize);
      }
    }
    if (!target_->Submit(staging_)) target_.reset();  // the window went away
  } catch (...) {
    // Out of memory for a picture: it is not drawn.
  }
}

void TYUVRender::Repaint() {
  if (target_) target_->RequestRepaint();
}

TRendererFactory MakeYuvRendererFactory(bool preferOpenGl) {
  return [preferOpenGl]() -> std::unique_ptr<IYuvRenderer> {
    return std::make_unique<TYUVRender>(preferOpenGl);
  };
}

}  // namespace ospry
