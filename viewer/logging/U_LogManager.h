#pragma once
// The viewer's diagnostic log. Any thread hands a message with a category and
// a level to AddMessage; messages the category's configured level admits are
// queued, and the log thread appends them every 500 ms to one file per
// category and day:
//   <program folder><logDir>/<yyyy-mm-dd> <logFile>
// one line each: "yyyy-mm-dd hh:nn:ss" (the time of writing, ':' being the
// user's time separator), "tid: ", the queuing thread's id, a blank, the text.
//
// The configuration is "Logmanager.ini" in the program folder, written with
// its defaults when missing and read again every 10 s, so levels can be
// raised while the program runs:
//   [General]  Keepdays=30        (not written with the defaults)
//   [<CATEGORY>] logLevel=0  logFile=<CATEGORY>.log  logDir=Logs
// A key that is missing, or a file that cannot be read or created, gives the
// defaults. Once a day (at once after start) files whose names begin with a
// date "yyyy-mm-dd" at least Keepdays days old are deleted from every
// category's folder; other names are never touched.
//
// Error policy: nothing throws. A line that cannot be written is dropped; a
// file that cannot be deleted is reported in the DEBUG log at level 0.
//
// Threading: AddMessage from any thread. Lock_ guards the queue and the
// settings; it is the innermost lock of the program and nothing is called
// while it is held (files are written after the queue is taken out). The
// loop state (last re-read, last clean-up) belongs to the log thread, or in
// manual mode to the thread calling RunOnce. Destruction (from one thread,
// after every other caller is done) ends the log thread and writes what is
// still queued.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/CallbackThread.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Locks.h"

namespace ospry {

// The ten categories, in the order of their indices.
enum class TLogType : int {
  DCycle = 0,
  DataRead,
  ChunkWriter,
  Debug,
  Startup,
  Replay,
  IpCameras,
  Encoders,
  Alarms,
  Playback,
};
inline constexpr int kLogTypeCount = 10;

// "DCYCLE", "DATAREAD", ... "PLAYBACK": section name and default file name.
const char* LogTypeName(TLogType type);

// The settings of one category.
struct TLogTypeInfo {
  int level = 0;         // highest message level written
  std::string fileName;  // the file name after the date and a blank
  std::string dir;       // log folder, relative to the program folder
};

class TLogManager {
public:
  enum class TMode {
    Thread,  // a log thread runs the loop every 500 ms of the clock
    Manual,  // no thread: the owner calls RunOnce (tests; a log thread on a
             // manual clock would run its passes back to back)
  };

  // The program folder beside the running executable, the system clock.
  TLogManager();
  // programFolder gets a trailing '/' when it has none. Reads (or first
  // writes) the configuration before returning.
  TLogManager(std::string programFolder, IClock& clock, TMode mode = TMode::Thread);
  ~TLogManager();
  TLogManager(const TLogManager&) = delete;
  TLogManager& operator=(const TLogManager&) = delete;

  // Queues text when level is at most the category's level; false when the
  // message was dropped (filtered, an unknown category, no memory, or more
  // than kMaxQueued messages already waiting).
  bool AddMessage(const std::string& text, TLogType type, int level);

  // One pass of the loop without its sleep: re-read the configuration when
  // 10 whole seconds have passed since the last read, delete old files when
  // 24 whole hours have passed since the last clean-up, write the queue.
  // Manual mode only; does nothing in thread mode.
  void RunOnce();

  // The current settings (copies).
  TLogTypeInfo TypeInfo(TLogType type) const;
  int KeepDays() const;
  const std::string& ConfigPath() const { return configPath_; }

  static constexpr std::size_t kMaxQueued = 100000;
  static constexpr std::int64_t kLoopIntervalMs = 500;
  static constexpr std::int64_t kReReadSeconds = 10;
  static constexpr std::int64_t kCleanupHours = 24;

private:
  struct TLogMessage {
    std::string text;
    std::string fileName;
    std::string dir;
    unsigned long threadId = 0;
  };

  void Pass();
  void ReadConfig();
  void DeleteOldLogs();
  void WriteQueue();
  std::string FolderOf(const std::string& dir) const;
  void ThreadLoop();

  const std::string programFolder_;
  const std::string configPath_;
  IClock& clock_;
  const TMode mode_;

  mutable TLock lock_;
  std::array<TLogTypeInfo, kLogTypeCount> types_;  // guarded by lock_
  int keepDays_ = 0;                               // guarded by lock_
  std::vector<TLogMessage> queue_;                 // guarded by lock_

  TDateTime lastConfigLoad_ = 0;  // loop state
  TDateTime lastCleanup_ = 0;     // loop state; 0: clean up on the first pass

  std::unique_ptr<TCallbackThread> thread_;  // thread mode only
};

// The program-wide instance. The programs install one at start and remove it
// at the end; LogMessage with none installed does nothing and returns false.
// Both may be called from any thread: removal waits for LogMessage calls
// already inside the old instance.
// Returns the previous instance; destroying it writes its last messages.
std::unique_ptr<TLogManager> SetGlobalLogManager(std::unique_ptr<TLogManager> manager);
bool LogMessage(const std::string& text, TLogType type, int level);

}  // namespace ospry
