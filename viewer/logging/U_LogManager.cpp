#include "viewer/logging/U_LogManager.h"

#include <mutex>
#include <new>
#include <set>
#include <shared_mutex>
#include <utility>

#include "platform/Files.h"
#include "platform/IniFile.h"

namespace ospry {

namespace {

const char* const kTypeNames[kLogTypeCount] = {"DCYCLE", "DATAREAD",  "CHUNKWRITER", "DEBUG",  "STARTUP",
                                               "REPLAY", "IPCAMERAS", "ENCODERS",    "ALARMS", "PLAYBACK"};

const char* const kConfigName = "Logmanager.ini";
const char* const kDefaultDir = "Logs";
constexpr int kDefaultKeepDays = 30;
constexpr std::int64_t kSleepSliceMs = 50;

bool ValidType(TLogType type) {
  int index = static_cast<int>(type);
  return index >= 0 && index < kLogTypeCount;
}

std::string DefaultFileName(int index) { return std::string(kTypeNames[index]) + ".log"; }

}  // namespace

const char* LogTypeName(TLogType type) {
  return ValidType(type) ? kTypeNames[static_cast<int>(type)] : "";
}

TLogManager::TLogManager() : TLogManager(ProgramFolder(), SystemClock(), TMode::Thread) {}

TLogManager::TLogManager(std::string programFolder, IClock& clock, TMode mode)
    : programFolder_(IncludeTrailingDelimiter(programFolder)),
      configPath_(programFolder_ + kConfigName),
      clock_(clock),
      mode_(mode) {
  ReadConfig();
  lastConfigLoad_ = clock_.Now();
  lastCleanup_ = 0;
  if (mode_ == TMode::Thread) {
    thread_ = std::make_unique<TCallbackThread>([this] { ThreadLoop(); }, "ospry-log");
    thread_->Resume();
  }
}

TLogManager::~TLogManager() {
  if (thread_) {
    thread_->Terminate();
    thread_->WaitFor();
  }
  try {
    WriteQueue();
  } catch (...) {
    // Out of memory at the very end: the last lines are lost, nothing else.
  }
}

bool TLogManager::AddMessage(const std::string& text, TLogType type, int level) {
  if (!ValidType(type)) return false;
  try {
    TLockGuard<TLock> guard(lock_);
    const TLogTypeInfo& info = types_[static_cast<std::size_t>(type)];
    if (level > info.level || queue_.size() >= kMaxQueued) return false;
    queue_.push_back(TLogMessage{text, info.fileName, info.dir, CurrentThreadId()});
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void TLogManager::RunOnce() {
  if (mode_ == TMode::Manual) Pass();
}

void TLogManager::Pass() {
  TDateTime now = clock_.Now();
  if (MillisecondsBetween(now, lastConfigLoad_) / 1000 >= kReReadSeconds) {
    ReadConfig();
    lastConfigLoad_ = now;
  }
  if (MillisecondsBetween(now, lastCleanup_) / 3600000 >= kCleanupHours) {
    DeleteOldLogs();
    lastCleanup_ = now;
  }
  WriteQueue();
}

void TLogManager::ThreadLoop() {
  try {
    Pass();
  } catch (...) {
    // Out of memory: skip this pass; the log thread must keep running.
  }
  // The 500 ms pause in slices, so that shutdown is not held up by it.
  for (std::int64_t slept = 0; slept < kLoopIntervalMs && !thread_->Terminated(); slept += kSleepSliceMs)
    clock_.SleepMs(kSleepSliceMs);
}

TLogTypeInfo TLogManager::TypeInfo(TLogType type) const {
  if (!ValidType(type)) return TLogTypeInfo{};
  TLockGuard<TLock> guard(lock_);
  return types_[static_cast<std::size_t>(type)];
}

int TLogManager::KeepDays() const {
  TLockGuard<TLock> guard(lock_);
  return keepDays_;
}

void TLogManager::ReadConfig() {
  TIniFile ini(configPath_);
  if (!FileExists(configPath_)) {
    // A configuration that cannot be written is no reason to run without
    // settings: every key then simply reads as its default below.
    std::vector<TIniValue> defaults;
    for (int i = 0; i < kLogTypeCount; ++i) {
      defaults.push_back({kTypeNames[i], "logLevel", "0"});
      defaults.push_back({kTypeNames[i], "logFile", DefaultFileName(i)});
      defaults.push_back({kTypeNames[i], "logDir", kDefaultDir});
    }
    ini.WriteValues(defaults);
  }
  // Read into a fresh set and swap it in under the lock: AddMessage on other
  // threads reads the settings meanwhile.
  std::array<TLogTypeInfo, kLogTypeCount> fresh;
  int keepDays = ini.ReadInteger("General", "Keepdays", kDefaultKeepDays);
  for (int i = 0; i < kLogTypeCount; ++i) {
    fresh[static_cast<std::size_t>(i)].level = ini.ReadInteger(kTypeNames[i], "logLevel", 0);
    fresh[static_cast<std::size_t>(i)].fileName = ini.ReadString(kTypeNames[i], "logFile", DefaultFileName(i));
    fresh[static_cast<std::size_t>(i)].dir = ini.ReadString(kTypeNames[i], "logDir", kDefaultDir);
  }
  TLockGuard<TLock> guard(lock_);
  types_.swap(fresh);
  keepDays_ = keepDays;
}

std::string TLogManager::FolderOf(const std::string& dir) const {
  return dir.empty() ? programFolder_ : programFolder_ + IncludeTrailingDelimiter(dir);
}

void TLogManager::DeleteOldLogs() {
  std::set<std::string> folders;  // categories often share one
  int keepDays;
  {
    TLockGuard<TLock> guard(lock_);
    for (const TLogTypeInfo& info : types_) folders.insert(FolderOf(info.dir));
    keepDays = keepDays_;
  }
  TDateTime limit = DateOf(clock_.Now()) - keepDays;
  std::vector<std::string> names;
  for (const std::string& folder : folders) {
    if (!ListFolder(folder, names)) continue;
    for (const std::string& name : names) {
      TDateTime fileDate = 0;
      if (name.size() < 10 || !ParseDateTime("yyyy-mm-dd", name.substr(0, 10), fileDate)) continue;
      if (limit < fileDate) continue;
      std::string path = folder + name;
      if (!DeleteFilePath(path)) AddMessage("Could not delete " + path, TLogType::Debug, 0);
    }
  }
}

void TLogManager::WriteQueue() {
  // Taken out under the lock and written without it, in queue order, so
  // AddMessage never waits for the disk.
  std::vector<TLogMessage> batch;
  {
    TLockGuard<TLock> guard(lock_);
    batch.swap(queue_);
  }
  if (batch.empty()) return;
  // One time of writing for the whole batch: a batch that straddles midnight
  // goes to the new day's file with the new day's time.
  TDateTime now = clock_.Now();
  std::string dateText = FormatDateTime("yyyy-mm-dd", now);
  std::string stamp = FormatDateTime("yyyy-mm-dd hh:nn:ss", now);

  // Consecutive lines for one file are appended with one write.
  std::string folder, path, lines;
  auto flush = [&] {
    if (lines.empty()) return;
    TWriteFile file;
    // A line that cannot be written is dropped.
    if ((DirectoryExists(folder) || CreateDirectories(folder)) && file.OpenAppend(path))
      file.Write(lines.data(), static_cast<std::int64_t>(lines.size()));
    lines.clear();
  };
  for (const TLogMessage& message : batch) {
    std::string messageFolder = FolderOf(message.dir);
    std::string messagePath = messageFolder + dateText + " " + message.fileName;
    if (messagePath != path) {
      flush();
      folder = std::move(messageFolder);
      path = std::move(messagePath);
    }
    lines += stamp + "tid: " + std::to_string(message.threadId) + " " + message.text + "\n";
  }
  flush();
}

// ---- the program-wide instance ------------------------------------------------

namespace {

// Taken before a manager's own lock, and only around a call into it.
std::shared_mutex gGlobalLock;
TLogManager* gGlobal = nullptr;  // guarded by gGlobalLock

}  // namespace

std::unique_ptr<TLogManager> SetGlobalLogManager(std::unique_ptr<TLogManager> manager) {
  std::unique_lock<std::shared_mutex> guard(gGlobalLock);
  std::unique_ptr<TLogManager> previous(gGlobal);
  gGlobal = manager.release();
  return previous;
}

bool LogMessage(const std::string& text, TLogType type, int level) {
  std::shared_lock<std::shared_mutex> guard(gGlobalLock);
  return gGlobal != nullptr && gGlobal->AddMessage(text, type, level);
}

}  // namespace ospry
