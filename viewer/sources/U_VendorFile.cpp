#include "viewer/sources/U_VendorFile.h"

#include <chrono>

#include "platform/CallbackThread.h"
#include "platform/DateTime.h"
#include "platform/Files.h"

namespace ospry {
namespace {

constexpr int kPortCount = 64;
// The source open on each library port; written on the user interface
// thread when a file opens or stops.
std::array<std::atomic<TVendorFile*>, kPortCount> g_filePorts{};

void ClearPort(std::int32_t port, TVendorFile* owner) {
  if (port < 0 || port >= kPortCount) return;
  TVendorFile* expected = owner;
  g_filePorts[static_cast<std::size_t>(port)].compare_exchange_strong(expected, nullptr);
}

}  // namespace

TVendorFile::TVendorFile(std::int32_t sourceId, std::string fileName, std::string libraryPath)
    : IQuernSeekableStream(sourceId, std::move(fileName)), libraryPath_(std::move(libraryPath)) {}

TVendorFile::~TVendorFile() {
  Stop();
  library_.reset();
}

TDLLVendor& TVendorFile::Library() {
  if (!library_) library_ = std::make_unique<TDLLVendor>(libraryPath_);
  return *library_;
}

bool TVendorFile::Probe(const TVideoSourceOptions& options) {
  options_ = options;
  Valid = OpenFile(options.FileName);
  Stop();
  return Valid;
}

bool TVendorFile::OpenFile(const std::string& fileName) {
  if (fileName.empty() || !FileExists(fileName) || DirectoryExists(fileName)) return false;
  TDLLVendor& library = Library();
  std::int32_t port = -1;
  for (std::int32_t candidate = 0; candidate < kPortCount; ++candidate) {
    if (library.OpenFile(candidate, fileName.c_str())) {
      port = candidate;
      break;
    }
  }
  if (port < 0) return false;
  port_ = port;
  g_filePorts[static_cast<std::size_t>(port)].store(this);
  width_ = 0;
  height_ = 0;
  library.GetPictureSize(port, &width_, &height_);
  fileSeconds_ = static_cast<std::int32_t>(library.GetFileTime(port));
  const TDateTime modified = FileModifiedDateTime(fileName);
  startTime_ = modified == kNoTime ? 0 : DateOf(modified);
  Description = kDescription;
  return true;
}

bool TVendorFile::GetPictureSize(std::int32_t& width, std::int32_t& height) const {
  width = width_;
  height = height_;
  return true;
}

void TVendorFile::SetSound(bool on) {
  if (on) {
    Library().PlaySoundShare(port_);
  } else {
    Library().StopSoundShare(port_);
  }
}

void TVendorFile::ShowInWindow(TWindowHandle window, bool useGiven) {
  Library().SetDisplayRegion(port_, 1, nullptr, useGiven ? window : options_.Window, 1);
}

std::string TVendorFile::GetDisplayName() const {
  return FileExists(FileName) ? ExtractFileName(FileName) : FileName;
}

void TVendorFile::GetSegments(TTimeSegments& segments) {
  segments.clear();
  segments.push_back({startTime_, startTime_ + fileSeconds_ / kSecondsPerDay});
}

void TVendorFile::GetInfo(TDvrInfo& info) {
  IQuernSeekableStream::GetInfo(info);
  info.StartTime = startTime_;
  info.EndTime = startTime_ + fileSeconds_ / kSecondsPerDay;
}

bool TVendorFile::GetClipInfo(std::string&, std::string&, TDateTime& startTime, TDateTime& endTime) {
  startTime = startTime_;
  endTime = startTime_ + fileSeconds_ / kSecondsPerDay;
  return false;
}

TDateTime TVendorFile::GetPosition() {
  return startTime_ + Library().GetPlayedTime(port_) / kSecondsPerDay;
}

bool TVendorFile::VerifyFrames(TFrameError& error) {
  error = {};
  return false;
}

void TVendorFile::SetOnData(TDataHandler handler) {
  std::lock_guard guard(reportLock_);
  onData_ = std::move(handler);
}

bool TVendorFile::Play() {
  if (options_.FileName.empty()) return false;
  return Start(options_);
}

bool TVendorFile::Start(const TVideoSourceOptions& options) {
  if (Active) Stop();
  if (!OpenFile(options.FileName)) return false;
  if (!Library().Play(port_, options.Window)) return false;
  Active = true;
  options_ = options;
  StartTimer();
  return true;
}

bool TVendorFile::Stop() {
  StopTimer();
  bool result = false;
  if (library_ && library_->IsLoaded()) result = library_->CloseFile(port_) != 0;
  Active = false;
  ClearPort(port_, this);
  return result;
}

void TVendorFile::SetSpeed(double speed) {
  if (speed_ * speed < 0) Library().Play(port_, options_.Window);
  if (speed > speed_) {
    Library().Fast2(port_);
  } else if (speed < speed_) {
    Library().Slow2(port_);
  }
  speed_ = speed;
}

void TVendorFile::Faster() {
  Library().Fast2(port_);
  speed_ += 1;
}

void TVendorFile::Slower() {
  Library().Slow2(port_);
  speed_ -= 1;
}

TDateTime TVendorFile::Seek(TDateTime time) {
  if (fileSeconds_ != 0) {
    const auto fraction = static_cast<float>((time - startTime_) * kSecondsPerDay / fileSeconds_);
    Library().SetPlayPos(port_, fraction);
  }
  return time;
}

TDateTime TVendorFile::GoToStart() { return Seek(startTime_); }

TDateTime TVendorFile::GoToEnd() { return Seek(startTime_ + fileSeconds_ / kSecondsPerDay); }

bool TVendorFile::Pause() {
  const bool result = Library().Pause(port_, 1) != 0;
  Active = false;
  return result;
}

bool TVendorFile::Resume() {
  const bool result = Library().Pause(port_, 0) != 0;
  Active = true;
  return result;
}

void TVendorFile::StartTimer() {
  StopTimer();
  {
    std::lock_guard guard(timerLock_);
    timerStop_ = false;
  }
  timer_ = std::thread([this] {
    SetCurrentThreadName("vendor-position");
    std::unique_lock lock(timerLock_);
    while (!timerStop_) {
      if (timerWake_.wait_for(lock, std::chrono::milliseconds(kReportIntervalMs), [this] { return timerStop_; }))
        break;
      lock.unlock();
      try {
        Report();
      } catch (...) {
        // A failing receiver ends the reports, not the program.
        return;
      }
      lock.lock();
    }
  });
}

void TVendorFile::StopTimer() {
  {
    std::lock_guard guard(timerLock_);
    timerStop_ = true;
  }
  timerWake_.notify_all();
  if (!timer_.joinable()) return;
  if (timer_.get_id() == std::this_thread::get_id()) {
    timer_.detach();  // stopped from its own report: it ends when the report returns
  } else {
    timer_.join();
  }
}

void TVendorFile::Report() {
  std::lock_guard guard(reportLock_);
  if (!onData_) return;
  const TDataHandler handler = onData_;  // the handler may replace itself
  TStreamPacketInfo info;
  info.SourceId = SourceId;
  info.StreamKind = 0;
  info.FrameType = kFrameKey;
  info.Stamp = GetPosition();
  info.StampValid = true;
  handler(info, nullptr, 0);
}

}  // namespace ospry
