#include "platform/Files.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "ScratchFolder.h"

namespace ospry {
namespace {

using testutil::TScratchFolder;

std::string Content(const std::string& path) {
  std::string out;
  EXPECT_TRUE(ReadWholeFile(path, out)) << path;
  return out;
}

TEST(Files, ReadsBeyondFourGibibytes) {
  TScratchFolder scratch;
  std::string path = scratch / "big.bin";
  const std::int64_t tailAt = (std::int64_t{5} << 30) + 3;  // past 32-bit sizes and offsets
  {
    TWriteFile file;
    ASSERT_TRUE(file.Create(path));
    // A sparse file: only the tail takes disk space.
    ASSERT_TRUE(file.WriteAt(tailAt, "tail", 4));
    ASSERT_TRUE(file.Close());
  }
  TReadFile file(path);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Size(), tailAt + 4);
  EXPECT_EQ(FileSize(path), tailAt + 4);

  char buffer[8] = {};
  EXPECT_EQ(file.PositionalRead(tailAt - 2, buffer, sizeof buffer), 6);  // short at the end
  EXPECT_EQ(std::string(buffer, 6), std::string("\0\0tail", 6));
  EXPECT_EQ(file.Position(), 0);  // positional reads leave the position alone

  ASSERT_TRUE(file.Seek(tailAt));
  ASSERT_TRUE(file.ReadExact(buffer, 4));
  EXPECT_EQ(std::string(buffer, 4), "tail");
  EXPECT_EQ(file.Position(), tailAt + 4);
  EXPECT_EQ(file.Read(buffer, 4), 0);          // at the end
  EXPECT_FALSE(file.PositionalReadExact(tailAt + 1, buffer, 4));
  EXPECT_EQ(file.PositionalRead(-1, buffer, 4), -1);
  EXPECT_FALSE(file.Seek(-1));
}

TEST(Files, CreateReplacesAndAppendAdds) {
  TScratchFolder scratch;
  std::string path = scratch / "f.txt";
  ASSERT_TRUE(WriteWholeFile(path, "long content", 12));
  ASSERT_TRUE(WriteWholeFile(path, "new", 3));
  EXPECT_EQ(Content(path), "new");
  TWriteFile file;
  ASSERT_TRUE(file.OpenAppend(path));
  ASSERT_TRUE(file.Write("+more", 5));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(Content(path), "new+more");
  ASSERT_TRUE(file.OpenAppend(scratch / "created.txt"));
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(FileSize(scratch / "created.txt"), 0);
  EXPECT_FALSE(file.Create(scratch / "no/such/folder.txt"));
  EXPECT_FALSE(file.Write("x", 1));
}

TEST(Files, ExistsDeleteAndRename) {
  TScratchFolder scratch;
  std::string path = scratch / "a.txt";
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(FileExists(""));
  ASSERT_TRUE(WriteWholeFile(path, "a", 1));
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(DirectoryExists(path));
  EXPECT_TRUE(FileExists(scratch.Path()));
  EXPECT_TRUE(DirectoryExists(scratch.Path()));
  EXPECT_FALSE(TReadFile(scratch.Path()).IsOpen());  // a folder is not a file to read
  ASSERT_TRUE(RenameFile(path, scratch / "b.txt"));
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(DeleteFilePath(scratch / "b.txt"));
  EXPECT_FALSE(DeleteFilePath(scratch / "b.txt"));
  EXPECT_EQ(FileSize(scratch / "b.txt"), -1);
  EXPECT_FALSE(TReadFile(scratch / "b.txt").IsOpen());
}

TEST(Files, CreateDirectoriesMakesMissingParents) {
  TScratchFolder scratch;
  EXPECT_TRUE(CreateDirectories(scratch / "a/b/c/"));
  EXPECT_TRUE(DirectoryExists(scratch / "a/b/c"));
  EXPECT_TRUE(CreateDirectories(scratch / "a/b"));  // already there
  ASSERT_TRUE(WriteWholeFile(scratch / "file", "x", 1));
  EXPECT_FALSE(CreateDirectories(scratch / "file/sub"));  // a file in the way
  EXPECT_FALSE(CreateDirectories(scratch / "file"));
  EXPECT_FALSE(CreateDirectories(""));
}

TEST(Files, ListFolderNamesEveryEntry) {
  TScratchFolder scratch;
  ASSERT_TRUE(WriteWholeFile(scratch / "b.log", "x", 1));
  ASSERT_TRUE(CreateDirectories(scratch / "sub"));
  std::vector<std::string> names{"stale"};
  ASSERT_TRUE(ListFolder(scratch.Path(), names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b.log", "sub"}));
  EXPECT_FALSE(ListFolder(scratch / "missing", names));
  EXPECT_TRUE(names.empty());
}

TEST(Files, PathHelpers) {
  struct TCase {
    const char* path;
    const char* folder;
    const char* name;
    const char* ext;
  };
  const TCase cases[] = {
      {"/a/b/c.txt", "/a/b/", "c.txt", ".txt"},
      {"c.txt", "", "c.txt", ".txt"},
      {"/a.b/c", "/a.b/", "c", ""},
      {"x.tar.gz", "", "x.tar.gz", ".gz"},
      {"/a/b/", "/a/b/", "", ""},
      {"/", "/", "", ""},
      {"", "", "", ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.folder) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
    EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
  }
  EXPECT_EQ(IncludeTrailingDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingDelimiter("/a/"), "/a/");
}

TEST(Files, ProgramAndTempFolders) {
  std::string program = ProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), '/');
  EXPECT_TRUE(FileExists(program + "platform_tests"));

  const char* saved = std::getenv("TMPDIR");
  std::string restore = saved != nullptr ? saved : "";
  ::setenv("TMPDIR", "/var/tmp/x", 1);
  EXPECT_EQ(TempFolder(), "/var/tmp/x/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(TempFolder(), "/tmp/");
  if (saved != nullptr) ::setenv("TMPDIR", restore.c_str(), 1);
}

}  // namespace
}  // namespace ospry
