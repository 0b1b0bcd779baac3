#pragma once
// The drawing surface for snapshots: YUV pictures to 24-bit bitmap files in
// memory, and unique file names for them. Class-level operations only; no
// state, no Qt. Safe to call from any thread.
//
// Pictures are planar: luma rows of W bytes, then two chroma planes of
// (W / 2) x (H / 2) bytes. In a packed picture P the second plane starts at
// P + W*H and the third at P + W*H + W*H/4 (the quarter truncated).
#include <cstdint>
#include <string>
#include <vector>

namespace ospry {

using TBitmapBytes = std::vector<std::uint8_t>;

class TDrawYUV {
public:
  // Converts a picture to RGB with the integer BT.601 formulas. With packed
  // non-null the planes are taken from it and y, cr, cb are ignored.
  // crFirst: the second plane is Cr and the third Cb (YV12); false swaps them.
  // blueFirst: pixels are written blue, green, red; else red, green, blue.
  // Output is bottom-up: source row r lands in rows (H-1-r)*S ... +S-1 counted
  // from the top of dest, each converted row repeated S times. destStride is
  // the byte length of a destination row (at least W*3; 0 means W*3); bytes of
  // a row past W*3 are left as they are. Rows are converted in pairs and
  // columns in pairs: an odd last row or column is left untouched.
  static void YuvToRgb(const std::uint8_t* packed, const std::uint8_t* y, const std::uint8_t* cr,
                       const std::uint8_t* cb, bool crFirst, bool blueFirst, std::uint8_t* dest,
                       int width, int height, int rowRepeat, int destStride = 0);

  // A complete 24-bit bottom-up bitmap file of the packed picture. Pictures
  // more than twice as wide as high get every row doubled. Rows are padded to
  // a multiple of 4 bytes. Empty when the sizes are not positive or the
  // memory cannot be had.
  static TBitmapBytes MakeBitmap(const std::uint8_t* packed, int width, int height, bool crFirst);

  // The width and height fields of a bitmap file's info header; false when
  // bitmap is shorter than the two headers (54 bytes).
  static bool GetBitmapSize(const TBitmapBytes& bitmap, int& width, int& height);
};

// path itself when nothing of that name exists; otherwise the first of
// "name(0).ext", "name(1).ext", ... that does not exist.
std::string MakeUniqueFileName(const std::string& path);

}  // namespace ospry
