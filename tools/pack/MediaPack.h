#pragma once
// Clip packages from media files: every input (anything libavformat reads)
// becomes one clip container of one channel. Packets are copied as they are,
// never re-encoded:
//   H.264 video          stream kind 3 (Annex B; MP4/Matroska input is
//                        converted, parameter sets in front of key frames)
//   MPEG-4 part 2 video  stream kind 15 (the configuration header that such
//                        containers keep aside goes in front of key frames)
//   Motion JPEG video    stream kind 16, every picture a key frame
//   µ-law audio          stream kind 17
//   G.726 audio          stream kind 18
//   AAC audio            stream kind 20
// Of each input the first video stream and the first audio stream in a codec
// above are taken and other streams are skipped; an input whose sound is all
// in other codecs is refused unless withAudio is off. Video frames are of
// type 1 when the demuxer flags them as key frames, else 0; audio blocks of
// type 3. The audio kind carries a stream header of the 13 bytes the audio
// decoder opens from (codec kind 17, 18 or 19, channels, bit rate, sample
// rate). Video packets before the first key frame cannot be decoded and are
// left out.
//
// In the vendor format (vendorFormat) the input must hold H.264 video; every
// access unit and audio block (µ-law or 16-bit PCM) becomes one frame of
// stream kind 2 behind a 40-byte vendor stream header.
//
// Frame stamps: the clip's start time plus the packet's decoding time stamp
// (its presentation stamp when it has none) in its stream's time base,
// counted from the earliest stream start; kept in recording order.
//
// One input gives a clip container; several give a multi-clip file played as
// a play list (default) or in sync.
//
// Error policy: false with a message naming the input and the cause; no
// output file is left behind. Nothing throws.
// Threading: none.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/DateTime.h"

namespace ospry::pack {

// Longest names the recorder record can hold.
inline constexpr std::size_t kMaxRecorderNameChars = 50;
inline constexpr std::size_t kMaxChannelNameChars = 20;
inline constexpr std::size_t kMaxUserNameChars = 50;
inline constexpr std::size_t kMaxHostNameChars = 25;

// What a name defaults to when no option gives it (the channel defaults to
// the input's file name without its extension).
inline constexpr const char* kUnknownName = "N/A";

struct TMediaPackOptions {
  std::string launcherPath;
  std::vector<std::string> inputPaths;  // one per channel, at least one
  std::string outputPath;
  std::optional<std::string> description;
  // Play mode of the multi-clip file several inputs make (kModePlayList when
  // absent); refused for a single input.
  std::optional<std::uint8_t> mode;
  bool vendorFormat = false;
  bool withAudio = true;  // false: the sound is left out
  // Vendor format only: the vendor player library carried as a section
  // ("libVPlay.so"); empty: none is carried.
  std::string libraryPath;

  std::optional<std::string> recorderName;
  std::optional<std::string> userName;
  std::optional<std::string> hostName;
  // Empty, one value for every input, or one value per input in input order.
  std::vector<std::string> channelNames;
  // Likewise. Absent: the recording's own creation time when it carries one,
  // else the input file's modification time.
  std::vector<TDateTime> startTimes;
};

// Writes the package; false with error filled on any failure.
bool PackMediaFiles(const TMediaPackOptions& options, std::string& error);

// Parses a local start time "yyyy-mm-dd hh:nn:ss" (a "T" may stand for the
// blank; ".zzz" milliseconds may follow). False when it does not fit.
bool ParseStartTime(const std::string& text, TDateTime& out);

}  // namespace ospry::pack
