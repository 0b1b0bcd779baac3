#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include "launcher/D_Resource.h"
#include "launcher/U_Payloads.h"
#include "launcher/U_Resource.h"
#include "tests/launcher/TestSupport.h"

namespace ospry::launcher {
namespace {

using launchertest::ReadFileText;
using launchertest::TPrivateTempTest;
namespace fs = std::filesystem;

std::string PayloadBytes(const char* name) {
  const TPayload* payload = FindEmbeddedPayload(name);
  if (payload == nullptr) return {};
  return {reinterpret_cast<const char*>(payload->data), payload->sizeBytes};
}

bool IsExecutable(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

TEST(EmbeddedPayloads, CarryTheTableRowsFoundWithoutRegardToCase) {
  ASSERT_EQ(PayloadTable().size(), 2u);
  EXPECT_STREQ(PayloadTable()[0].fileName, "libVPlay.so");
  EXPECT_STREQ(PayloadTable()[1].fileName, "Ospry");
  for (const char* name : {"VPlay", "vplay", "OSPRY", "Ospry"}) {
    const TPayload* payload = FindEmbeddedPayload(name);
    ASSERT_NE(payload, nullptr) << name;
    EXPECT_GT(payload->sizeBytes, 0u);
  }
  EXPECT_EQ(FindEmbeddedPayload("Osp"), nullptr);
  EXPECT_EQ(PayloadBytes("VPlay"), ReadFileText(OSPRY_TEST_VPLAY_PAYLOAD));
  EXPECT_EQ(PayloadBytes("Ospry"), ReadFileText(OSPRY_STANDIN_VIEWER));
}

class ResourceTest : public TPrivateTempTest {};

TEST_F(ResourceTest, ExtractWritesEveryPayloadIntoTheTemporaryFolderAndRegistersIt) {
  TResource resources;
  EXPECT_EQ(resources.TempPath(), temp_.string() + "/");
  for (const TPayloadRow& row : PayloadTable()) EXPECT_TRUE(resources.Extract(row.resourceName, row.fileName));
  EXPECT_EQ(resources.Count(), 2u);
  EXPECT_EQ(ReadFileText(temp_ / "libVPlay.so"), PayloadBytes("VPlay"));
  EXPECT_EQ(ReadFileText(temp_ / "Ospry"), PayloadBytes("Ospry"));
  EXPECT_TRUE(IsExecutable(temp_ / "Ospry"));
  ASSERT_NE(resources.Find("ospry"), nullptr);
  EXPECT_EQ(resources.Find("ospry")->FileName(), (temp_ / "Ospry").string());

  resources.DeleteAll();
  EXPECT_EQ(resources.Count(), 0u);
  EXPECT_TRUE(fs::is_empty(temp_));
}

TEST_F(ResourceTest, MissingResourceLeavesTheOthersWorking) {
  {
    TResource resources;
    EXPECT_TRUE(resources.Extract("VPlay", "libVPlay.so"));
    EXPECT_FALSE(resources.Extract("NoSuchPayload", "missing.bin"));
    EXPECT_TRUE(resources.Extract("Ospry", "Ospry"));
    EXPECT_FALSE(fs::exists(temp_ / "missing.bin"));
    EXPECT_EQ(resources.Find("NoSuchPayload"), nullptr);
    EXPECT_EQ(resources.Run("NoSuchPayload", ""), nullptr);

    auto viewer = resources.Run("Ospry", "");
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->WaitForExit(), 0);
    EXPECT_TRUE(Record().isPresent);
  }
  EXPECT_TRUE(fs::is_empty(temp_));
}

TEST_F(ResourceTest, ExistingWritableTargetIsReplaced) {
  std::ofstream(temp_ / "Ospry") << "an older, longer file that must not survive in any part";
  fs::permissions(temp_ / "Ospry", fs::perms::owner_read | fs::perms::owner_write);
  TResource resources;
  ASSERT_TRUE(resources.Extract("Ospry", "Ospry"));
  EXPECT_EQ(ReadFileText(temp_ / "Ospry"), PayloadBytes("Ospry"));
  EXPECT_TRUE(IsExecutable(temp_ / "Ospry")) << "a replaced viewer must still start";
  auto viewer = resources.Run("Ospry", "");
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->WaitForExit(), 0);
}

// A target that cannot be written is not registered: this launcher neither
// starts it nor deletes it.
TEST_F(ResourceTest, UnwritableTargetIsNeitherStartedNorDeleted) {
  const fs::path target = temp_ / "Ospry";

  SCOPED_TRACE("a folder in the way");
  fs::create_directory(target);
  {
    TResource resources;
    EXPECT_TRUE(resources.Extract("VPlay", "libVPlay.so"));
    EXPECT_FALSE(resources.Extract("Ospry", "Ospry"));
    EXPECT_EQ(resources.Find("Ospry"), nullptr);
    EXPECT_EQ(resources.Run("Ospry", ""), nullptr);
  }
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_FALSE(fs::exists(temp_ / "libVPlay.so"));
  EXPECT_FALSE(Record().isPresent);
  fs::remove(target);

  SCOPED_TRACE("a viewer of another package still running from the same folder");
  fs::copy_file(OSPRY_STANDIN_VIEWER, target);
  SetViewerMode("wait");
  TProcess other;
  ASSERT_TRUE(other.Start(target.string(), "other-package", ""));
  ASSERT_TRUE(WaitForRecord());
  {
    TResource resources;
    EXPECT_FALSE(resources.Extract("Ospry", "Ospry"));
    EXPECT_EQ(resources.Run("Ospry", ""), nullptr);
  }
  EXPECT_TRUE(other.IsRunning()) << "the other package's viewer must not be ended";
  EXPECT_TRUE(fs::exists(target));
  other.Terminate();
  other.WaitForExit();
}

TEST_F(ResourceTest, RunGivesThePackagePathAsOneArgumentAndThePayloadFolder) {
  const std::string package = (work_ / "exported clips" / "gate camera 2.bin").string();
  TResource resources;
  ASSERT_TRUE(resources.Extract("Ospry", "Ospry"));
  auto viewer = resources.Run("Ospry", "\"" + package + "\"");
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->WaitForExit(), 0);
  auto record = Record();
  EXPECT_EQ(record.args, std::vector<std::string>{package});
  EXPECT_EQ(record.cwd, temp_.string());
}

TEST_F(ResourceTest, EntryWithoutProcessNeitherRunsNorTerminates) {
  TResource resources;
  ASSERT_TRUE(resources.Extract("Ospry", "Ospry"));
  TExeResource* entry = resources.Find("Ospry");
  ASSERT_NE(entry, nullptr);
  EXPECT_FALSE(entry->IsRunning());
  EXPECT_FALSE(entry->Terminate());
}

TEST_F(ResourceTest, RunningAgainEndsTheEarlierProcessFirst) {
  SetViewerMode("wait");
  TResource resources;
  ASSERT_TRUE(resources.Extract("Ospry", "Ospry"));
  auto first = resources.Run("Ospry", "first");
  ASSERT_NE(first, nullptr);
  auto second = resources.Run("Ospry", "second");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->WaitForExit(), 128 + SIGKILL);
  EXPECT_TRUE(second->IsRunning());
}

TEST_F(ResourceTest, DestroyingTheRegistryEndsTheRunningViewerBeforeDeleting) {
  SetViewerMode("wait");
  std::shared_ptr<TProcess> viewer;
  {
    TResource resources;
    for (const TPayloadRow& row : PayloadTable()) ASSERT_TRUE(resources.Extract(row.resourceName, row.fileName));
    viewer = resources.Run("Ospry", "");
    ASSERT_NE(viewer, nullptr);
    ASSERT_TRUE(WaitForRecord());
    EXPECT_TRUE(resources.Find("Ospry")->IsRunning());
  }
  EXPECT_FALSE(viewer->IsRunning());
  EXPECT_EQ(viewer->WaitForExit(), 128 + SIGKILL) << "ended at once, not asked to close";
  EXPECT_TRUE(fs::is_empty(temp_));
}

}  // namespace
}  // namespace ospry::launcher
