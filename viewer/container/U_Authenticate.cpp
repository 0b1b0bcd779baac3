#include "viewer/container/U_Authenticate.h"

#include <memory>

#include "platform/Files.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {

namespace {

constexpr int kChecksumBytes = 4;

// True when the file ends in "LUMENTAR" and a 4-byte checksum; stored gets
// the checksum.
bool HasTrailingMagic(const TReadFile& file, std::uint32_t& stored) {
  const std::int64_t size = file.Size();
  if (size < kMagicBytes + kChecksumBytes) return false;
  std::uint8_t tail[kMagicBytes + kChecksumBytes];
  if (!file.PositionalReadExact(size - sizeof tail, tail, sizeof tail)) return false;
  if (std::string_view(reinterpret_cast<const char*>(tail), kMagicBytes) != kLumentarMagic) return false;
  stored = le::U32(tail + kMagicBytes);
  return true;
}

}  // namespace

TAuthenticationReport AuthenticateFile(const std::string& fileName, const TAuthenticationProgress& progress) {
  TAuthenticationReport report;
  bool allFramesGood = true;

  auto checkFrames = [&](const TReadFile& file, const TIndexParser& index) {
    ++report.CheckedSources;
    TFrameCheck failure;
    TCrcProgress frameProgress;
    if (progress) frameProgress = [&](std::int64_t done, std::int64_t total) { progress("frames", done, total); };
    if (!VerifyIndexFrames(file, index, failure, frameProgress)) {
      allFramesGood = false;
      report.FrameStatus = kFrameError;
      report.CorruptFrames.push_back(failure.FrameOffset);
      report.Messages.push_back("Frame at " + std::to_string(failure.FrameOffset) + " corrupted");
    }
  };

  // The clip containers: those of a multi-clip file, else the one that ends
  // the file. Containers that cannot be read are not sources and are passed
  // over, as when the file is opened for playing.
  TClipSplitter splitter(fileName, false);
  std::unique_ptr<TClipReader> single;
  TReadFile singleFile;
  if (splitter.Valid()) {
    for (const auto& clip : splitter.Clips()) {
      TClipReader reader(splitter.File(), clip.EndPosition, false);
      if (reader.Valid()) checkFrames(splitter.File(), *reader.Index());
    }
  } else if (singleFile.Open(fileName)) {
    single = std::make_unique<TClipReader>(singleFile, singleFile.Size(), false);
    if (single->Valid())
      checkFrames(singleFile, *single->Index());
    else
      single.reset();
  }
  if (allFramesGood) report.FrameStatus = kFramesAuthenticated;
  if (report.CheckedSources == 0) report.FrameStatus = kNoFrameAuthentication;

  std::int32_t fileChecks = report.CheckedSources;
  if (splitter.Valid()) {
    report.ChecksumKind = TFileChecksumKind::MultiClip;
    report.StoredChecksum = splitter.FileChecksum();
  } else if (single) {
    report.ChecksumKind = TFileChecksumKind::Container;
    report.StoredChecksum = single->FileChecksum();
  } else if (singleFile.IsOpen() && HasTrailingMagic(singleFile, report.StoredChecksum)) {
    report.ChecksumKind = TFileChecksumKind::TrailingMagic;
    fileChecks = 1;
  }
  if (report.ChecksumKind != TFileChecksumKind::None) {
    TCrcProgress fileProgress;
    if (progress) fileProgress = [&](std::int64_t done, std::int64_t total) { progress("file", done, total); };
    report.FileReadable = TCrc::CalcFile(fileName, kChecksumBytes, 0, report.ComputedChecksum, fileProgress);
    if (report.FileReadable && report.ComputedChecksum == report.StoredChecksum) {
      report.FileStatus = kFileAuthenticated;
    } else {
      allFramesGood = false;
      report.FileStatus = kFileError;
      report.Messages.push_back(kFileCorrupted);
    }
  } else {
    report.FileStatus = kNoFileAuthentication;
  }

  if (fileChecks == 0) report.Messages.assign(1, kNoFilesToAuthenticate);
  if (report.Messages.empty()) {
    report.Result = kAuthenticationSuccessful;
  } else {
    for (std::size_t i = 0; i < report.Messages.size(); ++i) report.Result += (i ? "\r\n" : "") + report.Messages[i];
  }
  return report;
}

}  // namespace ospry
