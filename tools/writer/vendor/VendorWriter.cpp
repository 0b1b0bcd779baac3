#include "tools/writer/vendor/VendorWriter.h"

#include "platform/Files.h"

namespace ospry::writer {

std::size_t TVendorStream::VideoFrameCount() const {
  std::size_t count = 0;
  for (const TVendorFrame& frame : frames) count += frame.isAudio ? 0 : 1;
  return count;
}

TVendorFrame TVendorMuxer::VideoFrame(const std::uint8_t* data, std::size_t size, std::int64_t stampMs,
                                      bool isKey) {
  TVendorFrame frame;
  frame.stampMs = stampMs;
  frame.isKey = isKey;
  frame.bytes = vendor::PackFrame(vendor::TStreamType::Video, kFirstPts + stampMs * 90, data, size, isKey, isKey);
  return frame;
}

TVendorFrame TVendorMuxer::AudioBlock(const std::uint8_t* data, std::size_t size, std::int64_t stampMs) {
  TVendorFrame frame;
  frame.stampMs = stampMs;
  frame.isAudio = true;
  frame.bytes = vendor::PackFrame(vendor::TStreamType::Audio, kFirstPts + stampMs * 90, data, size, false, false);
  return frame;
}

bool WriteRawVendorFile(const std::string& path, const TVendorStream& stream) {
  TWriteFile file;
  if (!file.Create(path)) return false;
  const std::string header = stream.HeaderBytes();
  bool ok = file.Write(header.data(), static_cast<std::int64_t>(header.size()));
  for (const TVendorFrame& frame : stream.frames) {
    if (!ok) break;
    ok = !frame.bytes.empty() && file.Write(frame.bytes.data(), static_cast<std::int64_t>(frame.bytes.size()));
  }
  return file.Close() && ok;
}

}  // namespace ospry::writer
