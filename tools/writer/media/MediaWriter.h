#pragma once
// Test-media encoder: synthetic pictures and sound encoded with libavcodec
// into packets, and written with libavformat into MPEG and other media files.
// Used by tests, benchmarks and the clip writers to build real fixtures.
//
// Pictures are a moving pattern that depends only on the frame index, so the
// same settings always gives the same packets. Sound is a 440 Hz tone.
//
// Error policy: functions return false and set *error (when given); nothing
// throws. Thread-safe (no shared state).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ospry::media {

enum class TVideoCodec {
  H264,       // libx264, planar 4:2:0
  H264_444,   // libx264, planar 4:4:4 (a format the viewer converts)
  Mpeg4,      // MPEG-4 part 2, planar 4:2:0
  Mjpeg420,   // Motion JPEG, full-range 4:2:0
  Mjpeg422,   // Motion JPEG, full-range 4:2:2
  RawVideo,   // uncompressed planar 4:2:0 (a codec no clip carries)
};

struct TVideoSettings {
  TVideoCodec Codec = TVideoCodec::H264;
  int Width = 352;
  int Height = 288;
  int Frames = 25;
  int FrameRate = 25;
  int GopSize = 50;   // frames from one key frame to the next
  int BFrames = 0;    // > 0 makes the decoder delay its output (H.264, MPEG-4)
  int BitRate = 0;    // bits per second; 0: the encoder's default quality
};

enum class TAudioCodec {
  Mulaw,  // G.711 µ-law, 8,000 Hz mono
  G726,   // G.726 ADPCM, 8,000 Hz mono, BitRate / 8000 bits per sample
  Aac,    // AAC low complexity
};

struct TAudioSettings {
  TAudioCodec Codec = TAudioCodec::Mulaw;
  int SampleRate = 8000;
  int Channels = 1;
  int BitRate = 64000;
  double Seconds = 1.0;
};

struct TEncodedPacket {
  std::vector<std::uint8_t> Data;
  bool IsKey = false;
  std::int64_t Pts = 0;  // in frames (video) or samples (audio)
  std::int64_t Dts = 0;
};

// Encodes settings.Frames pictures. Packets come in decoding order; the encoder's
// delayed packets are flushed at the end.
bool EncodeVideo(const TVideoSettings& settings, std::vector<TEncodedPacket>& packets, std::string* error = nullptr);

// Encodes settings.Seconds of tone.
bool EncodeAudio(const TAudioSettings& settings, std::vector<TEncodedPacket>& packets, std::string* error = nullptr);

// The synthetic picture number index as planar 8-bit YUV with the given
// chroma subsampling (chromaShiftX/Y 1 for halved), rows tightly packed.
void MakeTestPicture(int index, int width, int height, int chromaShiftX, int chromaShiftY,
                     std::vector<std::uint8_t>& y, std::vector<std::uint8_t>& u, std::vector<std::uint8_t>& v);

// Writes a media file of the libavformat format named format ("h264", "m4v",
// "mjpeg" raw streams; "mpegts", "mpeg", "avi", "matroska", ...) with the
// video stream, and the audio stream when audio is given.
bool WriteMediaFile(const std::string& path, const std::string& format, const TVideoSettings* video,
                    const TAudioSettings* audio, std::string* error = nullptr);

// Tags of the whole file, as name and value ("creation_time", "title", ...).
using TMediaMetadata = std::vector<std::pair<std::string, std::string>>;

// The same, with the file carrying the given tags where its format can.
bool WriteMediaFile(const std::string& path, const std::string& format, const TVideoSettings* video,
                    const TAudioSettings* audio, const TMediaMetadata& metadata, std::string* error = nullptr);

}  // namespace ospry::media
