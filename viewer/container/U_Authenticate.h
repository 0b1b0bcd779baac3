#pragma once
// Headless authentication of one file: the frames of every clip container in
// it, then the file checksum, with the result texts the authentication dialog
// shows. Reads only; never writes to the file or extracts sections.
//
// Error policy: every failure is part of the report; nothing throws. A file
// that cannot be read for its checksum is a file error, whatever the stored
// checksum says.
// Threading: runs entirely on the caller's thread; progress is called there.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ospry {

// Texts of the result.
inline constexpr const char* kFramesAuthenticated = "Frames authenticated";
inline constexpr const char* kFrameError = "Frame error";
inline constexpr const char* kNoFrameAuthentication = "No frame authentication";
inline constexpr const char* kFileAuthenticated = "File authenticated";
inline constexpr const char* kFileError = "File error";
inline constexpr const char* kNoFileAuthentication = "No file authentication";
inline constexpr const char* kFileCorrupted = "File corrupted";
inline constexpr const char* kNoFilesToAuthenticate = "No files to authenticate";
inline constexpr const char* kAuthenticationSuccessful = "Authentication successful";

// Which stored checksum the file was compared with.
enum class TFileChecksumKind {
  None,            // nothing to compare
  MultiClip,       // the multi-clip trailer's
  Container,       // the trailer of the container that ends the file
  TrailingMagic,   // "LUMENTAR" and a checksum at the end of a file of another type
};

struct TAuthenticationReport {
  std::int32_t CheckedSources = 0;  // clip containers whose frames were checked
  std::vector<std::int64_t> CorruptFrames;  // position of the first corrupt frame of each failing container
  std::string FrameStatus;          // kFramesAuthenticated, kFrameError or kNoFrameAuthentication
  std::string FileStatus;           // kFileAuthenticated, kFileError or kNoFileAuthentication
  TFileChecksumKind ChecksumKind = TFileChecksumKind::None;
  bool FileReadable = true;         // false when the checksum pass could not read the file
  std::uint32_t StoredChecksum = 0;
  std::uint32_t ComputedChecksum = 0;
  // "Frame at <position> corrupted", "File corrupted", or only
  // "No files to authenticate".
  std::vector<std::string> Messages;
  // kAuthenticationSuccessful when there are no messages, else the messages
  // joined by CR LF.
  std::string Result;
  bool Successful() const { return Messages.empty(); }
};

// stage is "frames" or "file"; done and total count frames or bytes.
using TAuthenticationProgress =
    std::function<void(const std::string& stage, std::int64_t done, std::int64_t total)>;

TAuthenticationReport AuthenticateFile(const std::string& fileName, const TAuthenticationProgress& progress = {});

}  // namespace ospry
