#include "platform/IniFile.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <vector>

#include "platform/Files.h"

namespace ospry {

namespace {

constexpr std::int64_t kMaxIniBytes = 4 << 20;

struct TLine {
  std::string text;  // without its line break
  std::string eol;   // "\n", "\r\n" or "" (last line without a break)
};

std::string Trim(const std::string& s) {
  std::size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  std::size_t end = s.find_last_not_of(" \t");
  return s.substr(begin, end - begin + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Reads the file into lines; a missing file gives none. False when the file
// exists but cannot be read in full (a write must not replace it then).
bool LoadLines(const std::string& path, std::vector<TLine>& lines) {
  lines.clear();
  if (!FileExists(path)) return true;
  std::int64_t size = FileSize(path);
  if (size < 0 || size > kMaxIniBytes) return false;
  std::string content;
  if (!ReadWholeFile(path, content)) return false;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t nl = content.find('\n', start);
    TLine line;
    if (nl == std::string::npos) {
      line.text = content.substr(start);
      start = content.size();
    } else {
      line.text = content.substr(start, nl - start);
      line.eol = "\n";
      start = nl + 1;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.eol = "\r" + line.eol;
    }
    lines.push_back(std::move(line));
  }
  return true;
}

bool IsComment(const std::string& trimmed) {
  return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// The section name when the line is a section header.
bool SectionOf(const std::string& text, std::string& name) {
  std::string t = Trim(text);
  if (t.size() < 2 || t.front() != '[') return false;
  std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// The key and value when the line is a key line.
bool KeyOf(const std::string& text, std::string& key, std::string& value) {
  std::string t = Trim(text);
  if (t.empty() || IsComment(t)) return false;
  std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

// Index of the header of the first section called section, or -1.
long FindSection(const std::vector<TLine>& lines, const std::string& section) {
  std::string name;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (SectionOf(lines[i].text, name) && SameName(name, section)) return static_cast<long>(i);
  return -1;
}

// One past the last line of the section whose header is at header.
std::size_t SectionEnd(const std::vector<TLine>& lines, std::size_t header) {
  std::string name;
  std::size_t i = header + 1;
  while (i < lines.size() && !SectionOf(lines[i].text, name)) ++i;
  return i;
}

bool FindKey(const std::vector<TLine>& lines, const std::string& section, const std::string& key,
             std::size_t& index, std::string& value, std::string* spelling = nullptr) {
  long header = FindSection(lines, section);
  if (header < 0) return false;
  std::size_t end = SectionEnd(lines, static_cast<std::size_t>(header));
  std::string k, v;
  for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end; ++i) {
    if (KeyOf(lines[i].text, k, v) && SameName(k, key)) {
      index = i;
      value = v;
      if (spelling != nullptr) *spelling = k;
      return true;
    }
  }
  return false;
}

bool ParseInteger(const std::string& text, int& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '$') {
    base = 16;
    i += 1;
  }
  if (i >= text.size()) return false;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * base + digit;
    if (value > static_cast<std::int64_t>(INT_MAX) + 1) return false;
  }
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

// Sets key in section within lines, adding the key or the section when
// missing.
void Apply(std::vector<TLine>& lines, const std::string& section, const std::string& key,
           const std::string& value, const std::string& eol) {
  TLine entry{key + "=" + value, eol};
  std::size_t index = 0;
  std::string old, spelling;
  if (FindKey(lines, section, key, index, old, &spelling)) {
    // The key keeps the spelling the file gives it.
    lines[index].text = spelling + "=" + value;
    return;
  }
  if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = eol;
  long header = FindSection(lines, section);
  if (header >= 0) {
    // After the section's last non-blank line, so blank separators stay
    // between sections.
    std::size_t at = SectionEnd(lines, static_cast<std::size_t>(header));
    while (at > static_cast<std::size_t>(header) + 1 && Trim(lines[at - 1].text).empty()) --at;
    lines.insert(lines.begin() + static_cast<long>(at), entry);
  } else {
    if (!lines.empty() && !Trim(lines.back().text).empty()) lines.push_back(TLine{"", eol});
    lines.push_back(TLine{"[" + section + "]", eol});
    lines.push_back(entry);
  }
}

bool Store(const std::string& path, const std::vector<TLine>& lines) {
  std::string content;
  for (const TLine& line : lines) content += line.text + line.eol;
  // A new file renamed over the old one: a crash or a full disk never leaves
  // a half-written configuration behind.
  std::string temporary = path + ".tmp-" + std::to_string(::getpid());
  if (WriteWholeFile(temporary, content.data(), static_cast<std::int64_t>(content.size()))) {
    if (RenameFile(temporary, path)) return true;
    DeleteFilePath(temporary);
    return false;
  }
  DeleteFilePath(temporary);
  // The folder may be read-only while the file itself is writable.
  return FileExists(path) &&
         WriteWholeFile(path, content.data(), static_cast<std::int64_t>(content.size()));
}

}  // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  std::vector<TLine> lines;
  if (!LoadLines(path_, lines)) return defaultValue;
  std::size_t index = 0;
  std::string value;
  return FindKey(lines, section, key, index, value) ? value : defaultValue;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
  int value = 0;
  return ParseInteger(ReadString(section, key, std::string()), value) ? value : defaultValue;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  return WriteValues({TIniValue{section, key, value}});
}

bool TIniFile::WriteValues(const std::vector<TIniValue>& values) {
  auto hasBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
  for (const TIniValue& v : values) {
    std::string cleanSection = Trim(v.section), cleanKey = Trim(v.key);
    if (hasBreak(v.section) || hasBreak(v.key) || hasBreak(v.value) ||
        cleanSection.find(']') != std::string::npos || cleanKey.empty() ||
        cleanKey.find('=') != std::string::npos || IsComment(cleanKey) || cleanKey.front() == '[')
      return false;
  }
  std::vector<TLine> lines;
  if (!LoadLines(path_, lines)) return false;
  std::string eol = lines.empty() || lines.front().eol.empty() ? "\n" : lines.front().eol;
  for (const TIniValue& v : values) Apply(lines, Trim(v.section), Trim(v.key), Trim(v.value), eol);
  return Store(path_, lines);
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

}  // namespace ospry
