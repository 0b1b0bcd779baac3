#pragma once
// Encoded test media laid out as one clip of a container: pictures 40 ms
// apart, and sound blocks spread evenly between them (each 20 ms after the
// picture it follows), as a recorder interleaves them by time.
#include <cstdint>
#include <vector>

#include "platform/DateTime.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/media/MediaWriter.h"

namespace ospry::media {

constexpr double kClipFrameMs = 40;

// Adds the pictures as frames of videoKind (key frames of type 1, others 0)
// from start, the sound blocks as frames of audioKind (type 3), and a clip
// over every frame added; returns the clip's end, one frame after the last
// picture. The audio stream header is the caller's to add.
TDateTime AddEncodedClip(writer::TContainerWriter& container, TDateTime start, std::uint8_t videoKind,
                         const std::vector<TEncodedPacket>& pictures, std::uint8_t audioKind = 0,
                         const std::vector<TEncodedPacket>& sound = {});

}  // namespace ospry::media
