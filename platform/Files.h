#pragma once
// File services: shared reading with 64-bit positions, create-or-replace
// writing, and path helpers.
//
// Error policy: operations report failure by result (false, -1, or an invalid
// object); nothing throws. Not thread-safe per object, except PositionalRead
// and Size, which may be called from several threads at once.
#include <cstdint>
#include <string>
#include <vector>

namespace ospry {

// A file opened for reading. Other processes may read, write or delete it
// while it is open (the POSIX default).
class TReadFile {
public:
  TReadFile() = default;
  explicit TReadFile(const std::string& path);
  ~TReadFile();
  TReadFile(TReadFile&& other) noexcept;
  TReadFile& operator=(TReadFile&& other) noexcept;
  TReadFile(const TReadFile&) = delete;
  TReadFile& operator=(const TReadFile&) = delete;

  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // Size in bytes, or -1 when closed or unknown.
  std::int64_t Size() const;
  // Moves the shared position; returns false when closed or position < 0.
  bool Seek(std::int64_t position);
  std::int64_t Position() const { return position_; }
  // Reads up to count bytes at the shared position and advances it; returns
  // the bytes read (0 at the end, -1 on error).
  std::int64_t Read(void* buffer, std::int64_t count);
  // Reads exactly count bytes or fails.
  bool ReadExact(void* buffer, std::int64_t count);
  // Reads at an absolute position without touching the shared position; safe
  // to call from several threads at once. Returns bytes read, -1 on error.
  std::int64_t PositionalRead(std::int64_t position, void* buffer, std::int64_t count) const;
  bool PositionalReadExact(std::int64_t position, void* buffer, std::int64_t count) const;
  int Descriptor() const { return fd_; }

private:
  int fd_ = -1;
  std::int64_t position_ = 0;
};

// A file created (or truncated) for writing.
class TWriteFile {
public:
  TWriteFile() = default;
  ~TWriteFile();
  TWriteFile(TWriteFile&& other) noexcept;
  TWriteFile& operator=(TWriteFile&& other) noexcept;
  TWriteFile(const TWriteFile&) = delete;
  TWriteFile& operator=(const TWriteFile&) = delete;

  // Creates the file or replaces its content.
  bool Create(const std::string& path);
  // Opens for appending, creating the file when it is missing.
  bool OpenAppend(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  // Writes all bytes; false on any failure (disk full included).
  bool Write(const void* data, std::int64_t count);
  bool WriteAt(std::int64_t position, const void* data, std::int64_t count);
  // Flushes and closes; false when the final flush or close failed.
  bool Close();

private:
  int fd_ = -1;
};

bool FileExists(const std::string& path);        // a file or a folder
bool DirectoryExists(const std::string& path);
bool DeleteFilePath(const std::string& path);    // false when it could not be removed
bool CreateDirectories(const std::string& path); // creates missing parents too
bool RenameFile(const std::string& from, const std::string& to);
std::int64_t FileSize(const std::string& path);  // -1 when missing
// The names of a folder's entries (files, folders, links; without "." and
// ".."), in no particular order; false when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);
// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);
// Writes a whole file, replacing it.
bool WriteWholeFile(const std::string& path, const void* data, std::int64_t count);

// Path helpers, '/' separated.
std::string ExtractFilePath(const std::string& path);  // folder with trailing '/', or ""
std::string ExtractFileName(const std::string& path);  // name without folder
std::string ExtractFileExt(const std::string& path);   // ".ext" or ""
std::string IncludeTrailingDelimiter(const std::string& folder);

// Folder of the running executable, with a trailing '/'.
std::string ProgramFolder();
// TMPDIR (or /tmp), with a trailing '/'.
std::string TempFolder();

}  // namespace ospry
