#pragma once
// Writing the vendor stream format: the 40-byte header, then every frame as
// its own program-stream packets, so that one frame's bytes can stand alone
// as one frame entry of a kind-2 clip, or be concatenated into a raw vendor
// file.
//
// Error policy: results report failure (empty strings, false); nothing throws
// except std::bad_alloc. Not thread-safe per object.
#include <cstdint>
#include <string>
#include <vector>

#include "vplay/VendorFormat.h"

namespace ospry::writer {

// One frame in the vendor format, ready to store.
struct TVendorFrame {
  std::string bytes;            // its program-stream packets
  std::int64_t stampMs = 0;     // from the stream start
  bool isAudio = false;
  bool isKey = false;
  // The frame type a kind-2 clip entry carries: 1 key frame, 3 audio block,
  // 0 other pictures.
  std::uint8_t ClipFrameType() const { return isAudio ? 3 : (isKey ? 1 : 0); }
};

// A whole stream: the header bytes and the frames in stream order.
struct TVendorStream {
  vendor::TStreamHeader header;
  std::vector<TVendorFrame> frames;
  std::string HeaderBytes() const { return header.Encode(); }
  std::size_t VideoFrameCount() const;
};

class TVendorMuxer {
public:
  // The PTS of stamp 0; non-zero so that a reader that mistakes 0 for
  // "unset" is caught.
  static constexpr std::int64_t kFirstPts = 90000;

  // A video frame: one H.264 access unit in Annex B byte-stream form. Key
  // frames carry a system header too. Empty result when data is too large.
  static TVendorFrame VideoFrame(const std::uint8_t* data, std::size_t size, std::int64_t stampMs, bool isKey);
  // An audio block in the header's audio coding (mu-law bytes or 16-bit PCM).
  static TVendorFrame AudioBlock(const std::uint8_t* data, std::size_t size, std::int64_t stampMs);
};

// Writes header and frames as a raw vendor file; false on any write failure.
bool WriteRawVendorFile(const std::string& path, const TVendorStream& stream);

}  // namespace ospry::writer
