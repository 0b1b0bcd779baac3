#include "tools/writer/media/MediaClip.h"

#include <string_view>

namespace ospry::media {
namespace {

std::string_view Bytes(const TEncodedPacket& packet) {
  return {reinterpret_cast<const char*>(packet.Data.data()), packet.Data.size()};
}

}  // namespace

TDateTime AddEncodedClip(writer::TContainerWriter& container, TDateTime start, std::uint8_t videoKind,
                         const std::vector<TEncodedPacket>& pictures, std::uint8_t audioKind,
                         const std::vector<TEncodedPacket>& sound) {
  constexpr std::uint8_t kKeyFrame = 1;
  constexpr std::uint8_t kAudioBlock = 3;
  const auto first = static_cast<std::int32_t>(container.Frames().size());
  std::size_t nextSound = 0;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const TDateTime stamp = start + MillisecondsToDays(kClipFrameMs * static_cast<double>(i));
    container.AddFrame(videoKind, pictures[i].IsKey ? kKeyFrame : 0, stamp, Bytes(pictures[i]));
    const std::size_t soundDue = (i + 1) * sound.size() / pictures.size();
    while (nextSound < soundDue)
      container.AddFrame(audioKind, kAudioBlock, stamp + MillisecondsToDays(kClipFrameMs / 2), Bytes(sound[nextSound++]));
  }
  const TDateTime end = start + MillisecondsToDays(kClipFrameMs * static_cast<double>(pictures.size()));
  container.AddClipOver(first, static_cast<std::int32_t>(container.Frames().size()) - first, end);
  return end;
}

}  // namespace ospry::media
