#pragma once
// Vendor streams as clips of stream kind 2 inside clip containers: one
// header entry holding the 40-byte stream header, one frame entry per video
// frame or audio block holding exactly that frame's program-stream packets.
//
// Error policy: results report failure; nothing throws except
// std::bad_alloc.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/writer/ClipWriter.h"
#include "tools/writer/vendor/VendorWriter.h"

namespace ospry::writer {

inline constexpr std::uint8_t kVendorStreamKind = 2;

// Adds the stream's header and frames to container, frame times being start
// plus the frames' stamps, and one clip per entry of clipFrameCounts over
// consecutive frames (their sum must be the frame count; each clip should
// begin with a key frame). False when the counts do not fit.
bool AddVendorClips(TContainerWriter& container, const TVendorStream& stream, TDateTime start,
                    const std::vector<std::int32_t>& clipFrameCounts);

// The sample clip: a container of 466 pictures (352 x 288, 25 per second)
// in 3 clips of 212, 212 and 42, each starting with a key frame, one stream
// header, one recorder record, and the library file at libraryPath carried
// as a section of kind 2 named "libVPlay.so". False on any failure.
bool WriteVendorSampleContainer(const std::string& path, const std::string& libraryPath);

}  // namespace ospry::writer
