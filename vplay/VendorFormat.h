#pragma once
// The vendor stream format (docs/VENDOR_FORMAT.md): a 40-byte "IMKH" stream
// header followed by an MPEG-2 program stream carrying H.264 video and at most
// one audio stream. Shared by the library (which reads it) and the writer
// (which makes it), so both sides agree byte for byte.
//
// Error policy: decoding reports failure by result; nothing throws except
// std::bad_alloc. Not thread-safe per object.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace ospry::vendor {

inline constexpr std::size_t kStreamHeaderSize = 40;
inline constexpr std::uint16_t kFormatVersion = 1;

// Video codec codes (header offset 6).
inline constexpr std::uint16_t kVideoH264 = 0x0001;

// Audio codec codes (header offset 12).
inline constexpr std::uint16_t kAudioNone = 0x0000;
inline constexpr std::uint16_t kAudioPcm16 = 0x7001;   // 16-bit LE PCM, fields as given
inline constexpr std::uint16_t kAudioMulaw = 0x7110;   // G.711 mu-law, fields as given
// 16-bit LE PCM, mono, 16,000 Hz whatever the header's fields say.
inline constexpr std::uint16_t kAudioDefault = 0x7221;

// Program-stream ids of the two elementary streams.
inline constexpr std::uint8_t kVideoStreamId = 0xE0;
inline constexpr std::uint8_t kAudioStreamId = 0xC0;

// A frame bigger than this is refused by the writer and dropped by readers.
inline constexpr std::size_t kMaxFrameBytes = 16u * 1024u * 1024u;

// The 40-byte header, little-endian on disk.
struct TStreamHeader {
  std::uint16_t version = kFormatVersion;  // offset 4
  std::uint16_t videoCodec = kVideoH264;   // offset 6
  std::uint16_t width = 0;                 // offset 8
  std::uint16_t height = 0;                // offset 10
  std::uint16_t audioCodec = kAudioNone;   // offset 12
  std::uint8_t channels = 0;               // offset 14
  std::uint8_t bitsPerSample = 0;          // offset 15, of the decoded sound (16)
  std::uint32_t sampleRate = 0;            // offset 16, Hz
  std::uint32_t frameRateNum = 25;         // offset 20
  std::uint32_t frameRateDen = 1;          // offset 24

  std::string Encode() const;
  // False when size < 40, the magic is not "IMKH" or the version is unknown.
  static bool Decode(const std::uint8_t* data, std::size_t size, TStreamHeader& out);

  bool HasAudio() const { return audioCodec != kAudioNone; }
  // Channels and rate of the 16-bit PCM the audio decodes to (0 without audio).
  int PcmChannels() const;
  int PcmSampleRate() const;
  // Frames per second rounded, at least 1.
  int RoundedFrameRate() const;
};

// Which elementary stream a frame belongs to.
enum class TStreamType : std::uint8_t { Video, Audio };

// Packs one frame (a whole H.264 access unit, or one audio block) as program
// stream packets: a pack header, a system header when withSystemHeader (key
// frames), and PES packets of at most 65,000 payload bytes, the first of which
// carries the PTS (90 kHz) and the frame's total size in its private data.
// Returns "" when size exceeds kMaxFrameBytes.
std::string PackFrame(TStreamType stream, std::int64_t pts90k, const std::uint8_t* data,
                      std::size_t size, bool withSystemHeader, bool isKey);

// One frame taken back out of the program stream.
struct TEsFrame {
  TStreamType stream = TStreamType::Video;
  std::int64_t pts90k = 0;
  bool isKey = false;          // as the writer marked it
  std::string data;            // the elementary bytes
  std::int64_t beginOffset = 0;  // stream offset of its first PES packet
  std::int64_t endOffset = 0;    // stream offset just past its last PES packet
};

// Reassembles frames from program-stream bytes given in pieces of any size.
// Garbage is skipped up to the next start code; packets of other streams are
// ignored. A frame is complete when its declared size has arrived, or, for
// streams without size, when the next frame of its stream begins (or Flush).
class TPsParser {
public:
  // keepData = false keeps only offsets (file indexing); frames then carry no
  // bytes and cost no memory.
  explicit TPsParser(bool keepData = true) : keepData_(keepData) {}

  void Feed(const std::uint8_t* data, std::size_t size);
  // Takes the oldest completed frame; false when none.
  bool Next(TEsFrame& out);
  // Ends the stream: frames still being assembled are completed.
  void Flush();
  // Forgets everything, also the offset count (next byte is offset base).
  void Reset(std::int64_t base = 0);
  // Bytes fed but not yet parsed (an incomplete packet).
  std::size_t Pending() const { return buffer_.size() - readPos_; }

private:
  struct TAssembly {
    bool active = false;
    TEsFrame frame;
    std::int64_t expected = -1;  // declared size, -1 unknown
    std::size_t received = 0;
  };
  bool ParseOne();  // false when more bytes are needed
  void OnPes(std::uint8_t streamId, const std::uint8_t* packet, std::size_t size,
             std::int64_t offset);
  void Complete(TAssembly& assembly);

  bool keepData_;
  std::string buffer_;
  std::size_t readPos_ = 0;
  std::int64_t bufferBase_ = 0;  // stream offset of buffer_[0]
  TAssembly video_;
  TAssembly audio_;
  std::deque<TEsFrame> ready_;
};

// G.711 mu-law byte to a 16-bit sample.
std::int16_t MulawToLinear(std::uint8_t value);

// Signed difference a - b of two 33-bit PTS values, wrap-aware.
std::int64_t PtsDelta(std::int64_t a, std::int64_t b);

}  // namespace ospry::vendor
