#pragma once
// Shared helpers of the launcher tests: a private temporary folder per test
// (TMPDIR points at it while the test runs) and the stand-in viewer's record.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ospry::launchertest {

namespace fs = std::filesystem;

// What the stand-in viewer wrote about itself.
struct TViewerRecord {
  bool isPresent = false;
  int pid = -1;
  std::string cwd;
  std::vector<std::string> args;
  bool wasAskedToClose = false;  // it received a request to close (SIGTERM)
};

inline TViewerRecord ReadViewerRecord(const std::string& path) {
  TViewerRecord r;
  std::ifstream in(path);
  if (!in) return r;
  r.isPresent = true;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("pid ", 0) == 0) r.pid = std::atoi(line.c_str() + 4);
    else if (line.rfind("cwd ", 0) == 0) r.cwd = line.substr(4);
    else if (line.rfind("arg ", 0) == 0) r.args.push_back(line.substr(4));
    else if (line == "asked to close") r.wasAskedToClose = true;
  }
  return r;
}

// Polls until done() holds; false after the limit. The limit only keeps a
// broken build from hanging the suite; passing runs need milliseconds.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20),
                      const std::function<void()>& pump = {}) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (pump) pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline std::string ReadFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// A fresh folder "<TMPDIR>/ospry-launcher-XXXXXX/tmp/" that TMPDIR points to
// during the test, plus a sibling "work/" for records and packages; the
// stand-in viewer's mode and record path are set through the environment.
class TPrivateTempTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* outer = std::getenv("TMPDIR");
    savedTmpDir_ = outer ? outer : "";
    std::string pattern = (outer && *outer ? std::string(outer) : std::string("/tmp")) + "/ospry-launcher-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    temp_ = root_ / "tmp";
    work_ = root_ / "work";
    fs::create_directories(temp_);
    fs::create_directories(work_);
    ::setenv("TMPDIR", temp_.c_str(), 1);
    record_ = (work_ / "viewer-record.txt").string();
    ::setenv("OSPRY_STANDIN_RECORD", record_.c_str(), 1);
    SetViewerMode("exit");
  }
  void TearDown() override {
    if (savedTmpDir_.empty()) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", savedTmpDir_.c_str(), 1);
    ::unsetenv("OSPRY_STANDIN_RECORD");
    ::unsetenv("OSPRY_STANDIN_MODE");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  static void SetViewerMode(const char* mode) { ::setenv("OSPRY_STANDIN_MODE", mode, 1); }

  TViewerRecord Record() const { return ReadViewerRecord(record_); }
  bool WaitForRecord(const std::function<void()>& pump = {}) const {
    return WaitUntil([this] { return fs::exists(record_); }, std::chrono::seconds(20), pump);
  }

  fs::path root_, temp_, work_;
  std::string record_;

private:
  std::string savedTmpDir_;
};

}  // namespace ospry::launchertest
