#include "viewer/render/DrawYUV_New.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Files.h"

namespace ospry {

namespace {

inline std::uint8_t Clamp(int value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

void PutLe16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::int32_t GetLe32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
                                   (static_cast<std::uint32_t>(at[2]) << 16) |
                                   (static_cast<std::uint32_t>(at[3]) << 24));
}

}  // namespace

void TDrawYUV::YuvToRgb(const std::uint8_t* packed, const std::uint8_t* y, const std::uint8_t* cr,
                        const std::uint8_t* cb, bool crFirst, bool blueFirst, std::uint8_t* dest, int width,
                        int height, int rowRepeat, int destStride) {
  if (width <= 0 || height <= 0 || rowRepeat <= 0 || dest == nullptr) return;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  const std::size_t rowBytes = w * 3;
  const std::size_t stride = destStride > 0 ? std::max<std::size_t>(destStride, rowBytes) : rowBytes;
  if (packed != nullptr) {
    const std::uint8_t* second = packed + w * h;
    const std::uint8_t* third = second + (w * h) / 4;
    y = packed;
    cr = crFirst ? second : third;
    cb = crFirst ? third : second;
  } else if (!crFirst) {
    std::swap(cr, cb);
  }
  if (y == nullptr || cr == nullptr || cb == nullptr) return;

  const std::size_t chromaWidth = w / 2;
  const int blueAt = blueFirst ? 0 : 2;
  const int redAt = blueFirst ? 2 : 0;
  // Two RGB rows are built per chroma row, then copied S times each.
  std::vector<std::uint8_t> rows[2] = {std::vector<std::uint8_t>(rowBytes, 0),
                                       std::vector<std::uint8_t>(rowBytes, 0)};
  for (std::size_t pair = 0; pair < h / 2; ++pair) {
    const std::uint8_t* crRow = cr + pair * chromaWidth;
    const std::uint8_t* cbRow = cb + pair * chromaWidth;
    for (int half = 0; half < 2; ++half) {
      const std::size_t srcRow = pair * 2 + half;
      const std::uint8_t* yRow = y + srcRow * w;
      std::uint8_t* out = rows[half].data();
      for (std::size_t col = 0; col < chromaWidth * 2; ++col) {
        const int yy = 298 * (yRow[col] - 16);
        const int u = cbRow[col / 2] - 128;
        const int v = crRow[col / 2] - 128;
        std::uint8_t* pixel = out + col * 3;
        pixel[redAt] = Clamp((yy + 409 * v + 128) / 256);
        pixel[1] = Clamp((yy - 100 * u - 208 * v + 128) / 256);
        pixel[blueAt] = Clamp((yy + 516 * u + 128) / 256);
      }
      const std::size_t firstDestRow = (h - 1 - srcRow) * static_cast<std::size_t>(rowRepeat);
      for (int r = 0; r < rowRepeat; ++r) {
        std::memcpy(dest + (firstDestRow + r) * stride, out, chromaWidth * 2 * 3);
      }
    }
  }
}

TBitmapBytes TDrawYUV::MakeBitmap(const std::uint8_t* packed, int width, int height, bool crFirst) {
  if (packed == nullptr || width <= 0 || height <= 0) return {};
  const int rowRepeat = width > 2 * height ? 2 : 1;
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 3 + 3) & ~std::uint64_t{3};
  const std::uint64_t rows = static_cast<std::uint64_t>(height) * rowRepeat;
  const std::uint64_t imageSize = stride * rows;
  if (imageSize + 54 > 0x7fffffffu) return {};
  TBitmapBytes bitmap;
  try {
    bitmap.assign(static_cast<std::size_t>(imageSize + 54), 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  YuvToRgb(packed, nullptr, nullptr, nullptr, crFirst, true, bitmap.data() + 54, width, height, rowRepeat,
           static_cast<int>(stride));
  std::uint8_t* header = bitmap.data();
  header[0] = 'B';
  header[1] = 'M';
  PutLe32(header + 2, static_cast<std::uint32_t>(imageSize + 54));
  PutLe32(header + 10, 54);
  PutLe32(header + 14, 40);
  PutLe32(header + 18, static_cast<std::uint32_t>(width));
  PutLe32(header + 22, static_cast<std::uint32_t>(rows));
  PutLe16(header + 26, 1);
  PutLe16(header + 28, 24);
  PutLe32(header + 34, static_cast<std::uint32_t>(imageSize));
  return bitmap;
}

bool TDrawYUV::GetBitmapSize(const TBitmapBytes& bitmap, int& width, int& height) {
  if (bitmap.size() < 54) return false;
  width = GetLe32(bitmap.data() + 18);
  height = GetLe32(bitmap.data() + 22);
  return true;
}

std::string MakeUniqueFileName(const std::string& path) {
  const std::string ext = ExtractFileExt(path);
  const std::string stem = path.substr(0, path.size() - ext.size());
  std::string candidate = path;
  for (long n = 0; FileExists(candidate); ++n) {
    candidate = stem + "(" + std::to_string(n) + ")" + ext;
  }
  return candidate;
}

}  // namespace ospry
