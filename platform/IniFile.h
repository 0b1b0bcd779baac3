#pragma once
// INI files: sections of key=value lines. Reading gives the default when the
// key is missing; writing keeps every other line of the file as it was
// (comments, unknown sections and keys, line endings).
// Section and key names are matched without regard to case (ASCII); names
// and values are trimmed of blanks. The first of several equal sections or
// keys is the one read and written. Lines starting with ';' or '#' are
// comments.
//
// Error policy: a file that is missing, unreadable or larger than 4 MiB reads
// as empty (every key gives its default); a write that cannot be done returns
// false and leaves the file as it was. Writes replace the file atomically
// (a new file renamed over the old one), so a reader in another process sees
// the old or the new content, never a mix.
//
// Threading: an object holds only its path; concurrent writers to one file
// (in any process) may lose each other's changes.
#include <string>
#include <vector>

namespace ospry {

struct TIniValue {
  std::string section;
  std::string key;
  std::string value;
};

class TIniFile {
public:
  explicit TIniFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal, or hexadecimal with "0x" or "$"; an optional sign. Text that is
  // not wholly a number, or is outside the int range, gives the default.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Writes through to the file at once, creating it (not its folder) when it
  // is missing; false when it cannot be written or when a name or the value
  // holds a line break (or the section a ']', the key a '=').
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);
  // Several writes, in order, with one replacement of the file (each
  // replacement may wait for the disk). Nothing is written when one of them
  // is refused.
  bool WriteValues(const std::vector<TIniValue>& values);

private:
  std::string path_;
};

}  // namespace ospry
