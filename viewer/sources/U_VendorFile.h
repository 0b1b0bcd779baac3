#pragma once
// TVendorFile: a raw vendor recording played by the vendor player library
// itself. The library reads, decodes, paces and draws the file into the
// view's window; this source relays the commands (play, pause, speed, seek,
// sound) and reports the play position every 250 ms through its data
// callback, as payload-free packets of stream kind 0.
//
// Times: the file's start is its modification date truncated to midnight;
// its length is the library's file time in whole seconds.
//
// Error policy: a file the library cannot open leaves the source invalid;
// later library failures are not reported (Pause and Resume return the
// library's result).
//
// Threading: every operation runs on the user interface thread except the
// position report, which runs on the source's own timer thread
// ("vendor-position"). reportLock_ is held for the whole report, so
// SetOnData and Stop return only when no report is running any more: after
// either, the handler given before is never called again. Do not call them
// while holding a lock the data handler takes.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "viewer/decoding/U_DLLVendor.h"
#include "viewer/sources/U_Interfaces.h"

namespace ospry {

class TVendorFile final : public IQuernSeekableStream {
public:
  static constexpr const char* kDescription = "Raw vendor file";
  static constexpr int kReportIntervalMs = 250;

  // libraryPath: empty loads the library from the usual places (tests give
  // the built one).
  TVendorFile(std::int32_t sourceId, std::string fileName, std::string libraryPath = "");
  ~TVendorFile() override;  // Stop, then the binding is freed

  // Opens the file to see whether the library takes it, then closes it
  // again; the result is also Valid.
  bool Probe(const TVideoSourceOptions& options);
  bool OpenFile(const std::string& fileName);
  bool GetPictureSize(std::int32_t& width, std::int32_t& height) const;
  // The window Start plays into when given no other (the main window sets
  // the view's after a successful Probe).
  void SetWindow(TWindowHandle window) { options_.Window = window; }
  void SetSound(bool on);
  // Shows the picture also in window when useGiven, else in the view's own.
  void ShowInWindow(TWindowHandle window, bool useGiven);

  TDateTime StartTime() const { return startTime_; }
  std::int32_t FileSeconds() const { return fileSeconds_; }
  std::int32_t Port() const { return port_; }

  std::string GetDisplayName() const override;
  void GetSegments(TTimeSegments& segments) override;
  bool CanAuthenticate() override { return false; }
  void GetInfo(TDvrInfo& info) override;
  // No recorder or channel names: false, with the times set.
  bool GetClipInfo(std::string& dvrName, std::string& channelName, TDateTime& startTime,
                   TDateTime& endTime) override;
  TDateTime GetPosition() override;
  bool VerifyFrames(TFrameError& error) override;  // false: nothing to verify against

  void SetOnData(TDataHandler handler) override;
  bool Play() override;
  bool Start(const TVideoSourceOptions& options) override;
  bool Stop() override;

  void SetSpeed(double speed) override;
  void Faster() override;
  void Slower() override;
  double GetSpeed() override { return speed_; }
  TDateTime Seek(TDateTime time) override;
  TDateTime GoToStart() override;
  TDateTime GoToEnd() override;  // the file's end
  bool Pause() override;
  bool Resume() override;

private:
  TDLLVendor& Library();
  void StartTimer();
  void StopTimer();
  void Report();

  std::string libraryPath_;
  std::unique_ptr<TDLLVendor> library_;  // created on first use
  std::recursive_mutex reportLock_;
  TDataHandler onData_;                  // guarded by reportLock_
  std::int32_t port_ = -1;
  TVideoSourceOptions options_;
  TDateTime startTime_ = 0;
  double speed_ = 0.0;
  std::int32_t fileSeconds_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;

  std::mutex timerLock_;
  std::condition_variable timerWake_;
  bool timerStop_ = false;  // guarded by timerLock_
  std::thread timer_;       // user interface thread only
};

}  // namespace ospry
