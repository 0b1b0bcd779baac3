#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <csignal>
#include <sys/wait.h>

#include "launcher/F_Main.h"
#include "platform/Process.h"
#include "tests/launcher/TestSupport.h"

namespace ospry::launcher {
namespace {

using launchertest::TPrivateTempTest;
using launchertest::WaitUntil;
namespace fs = std::filesystem;

// One application object for the whole executable (Qt allows only one).
class TQtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "launcher_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    app_->setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { app_.reset(); }

private:
  std::unique_ptr<QApplication> app_;
};
const auto* const gQtEnvironment = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

void PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

// Notes the window's Closed signal from its creation on (the menu item
// emits it synchronously) and runs the event loop until it came; Wait is
// false when it does not come within the hang guard.
class TClosedWatch {
public:
  explicit TClosedWatch(TFMain& form) {
    QObject::connect(&form, &TFMain::Closed, &loop_, [this] {
      isClosed_ = true;
      loop_.quit();
    });
  }
  bool Wait() {
    if (!isClosed_) {
      QTimer::singleShot(20000, &loop_, &QEventLoop::quit);
      loop_.exec();
    }
    return isClosed_;
  }

private:
  QEventLoop loop_;
  bool isClosed_ = false;
};

bool RunUntilClosed(TFMain& form) { return TClosedWatch(form).Wait(); }

// A process that has ended and been collected no longer exists.
bool ProcessGone(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

class LauncherMain : public TPrivateTempTest {
protected:
  std::vector<fs::path> Payloads() const { return {temp_ / "libVPlay.so", temp_ / "Ospry"}; }
  bool NoPayloadLeft() const {
    for (const auto& path : Payloads())
      if (fs::exists(path)) return false;
    return true;
  }
};

// The launcher runs the same way whether or not the desktop has a
// notification area; only the icon differs.
TLauncherOptions WithNotificationArea(bool hasArea, std::string packagePath) {
  return TLauncherOptions{.packagePath = std::move(packagePath), .hasNotificationArea = [hasArea] { return hasArea; }};
}

const char* AreaName(bool hasArea) { return hasArea ? "notification area" : "no notification area"; }

TEST_F(LauncherMain, ViewerGetsThePackagePathAndItsEndRemovesEveryPayload) {
  const std::string package = (work_ / "exported clips" / "front door.exe").string();
  for (bool hasArea : {true, false}) {
    SCOPED_TRACE(AreaName(hasArea));
    fs::remove(record_);
    auto form = std::make_unique<TFMain>(WithNotificationArea(hasArea, package));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "Ospry");
    EXPECT_EQ(form->HasTrayIcon(), hasArea);
    for (const auto& path : Payloads()) EXPECT_TRUE(fs::exists(path)) << path;

    ASSERT_TRUE(RunUntilClosed(*form)) << "the viewer's end must close the launcher";
    auto record = Record();
    EXPECT_EQ(record.args, std::vector<std::string>{package});
    EXPECT_EQ(record.cwd, temp_.string());

    const QPointer<QSystemTrayIcon> icon = form->TrayIcon();
    form.reset();
    EXPECT_TRUE(icon.isNull()) << "the icon is removed";
    EXPECT_TRUE(fs::is_empty(temp_));
  }
}

// "Exit Ospry" from the icon's menu (or, without a notification area, the
// same menu the launcher keeps) ends the viewer at once, without asking it
// to close, then removes every payload and the icon.
TEST_F(LauncherMain, ExitOspryEndsTheViewerAtOnceThenRemovesEverything) {
  SetViewerMode("wait");
  for (bool hasArea : {true, false}) {
    SCOPED_TRACE(AreaName(hasArea));
    fs::remove(record_);
    auto form = std::make_unique<TFMain>(WithNotificationArea(hasArea, (work_ / "p.exe").string()));
    ASSERT_TRUE(WaitForRecord(PumpEvents));
    const int viewerPid = Record().pid;
    ASSERT_FALSE(ProcessGone(viewerPid));

    auto* menu = form->findChild<QMenu*>("pop_main");
    ASSERT_NE(menu, nullptr);
    const QPointer<QSystemTrayIcon> icon = form->TrayIcon();
    ASSERT_EQ(!icon.isNull(), hasArea);
    if (hasArea) {
      EXPECT_EQ(icon->toolTip(), "Ospry");
      EXPECT_FALSE(icon->icon().isNull());
      EXPECT_EQ(icon->contextMenu(), menu) << "a right click on the icon opens the launcher's menu";
    }
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* exitItem = menu->actions().front();
    EXPECT_EQ(exitItem->text(), "Exit Ospry");
    TClosedWatch closed(*form);
    exitItem->trigger();
    ASSERT_TRUE(closed.Wait());

    form.reset();
    EXPECT_TRUE(ProcessGone(viewerPid));
    EXPECT_FALSE(Record().wasAskedToClose) << "ended at once, not asked to close";
    EXPECT_TRUE(icon.isNull());
    EXPECT_TRUE(fs::is_empty(temp_));
  }
}

// Without a viewer to run, the launcher ends at once and removes what it did
// write; a target it could not write is left alone.
TEST_F(LauncherMain, MissingOrUnwritableViewerEndsTheLauncherAtOnce) {
  struct TCase {
    const char* what;
    std::vector<TPayloadRow> table;
    bool isViewerBlocked;
  };
  const TCase cases[] = {
      {"viewer resource missing", {{"VPlay", "libVPlay.so"}, {"NoViewerHere", "Ospry"}}, false},
      {"viewer file blocked by a folder", {{"VPlay", "libVPlay.so"}, {"Ospry", "Ospry"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.isViewerBlocked) fs::create_directory(temp_ / "Ospry");
    auto form = std::make_unique<TFMain>(TLauncherOptions{.payloadTable = c.table, .packagePath = "p"});
    EXPECT_TRUE(fs::exists(temp_ / "libVPlay.so"));
    ASSERT_TRUE(RunUntilClosed(*form));
    form.reset();
    EXPECT_FALSE(fs::exists(temp_ / "libVPlay.so"));
    EXPECT_EQ(fs::is_directory(temp_ / "Ospry"), c.isViewerBlocked);
    EXPECT_FALSE(Record().isPresent);
    std::error_code ignored;
    fs::remove_all(temp_ / "Ospry", ignored);
  }
}

TEST_F(LauncherMain, DestroyingTheWindowWhileTheViewerRunsEndsItFirst) {
  SetViewerMode("wait");
  auto form = std::make_unique<TFMain>(TLauncherOptions{.packagePath = "p"});
  ASSERT_TRUE(WaitForRecord(PumpEvents));
  const int viewerPid = Record().pid;
  form.reset();
  EXPECT_TRUE(ProcessGone(viewerPid));
  EXPECT_TRUE(fs::is_empty(temp_));
  // The watch thread's report arrives after the window is gone and must be
  // dropped, not delivered.
  for (int i = 0; i < 20; ++i) PumpEvents();
}

// The whole program, run as a package: the launcher's image with a clip
// appended, under a path with blanks.
TEST_F(LauncherMain, PackageWithAppendedClipRunsTheViewerAndCleansUp) {
  const fs::path folder = work_ / "Exported Clips";
  fs::create_directories(folder);
  const fs::path package = folder / "Car Park 2026.exe";
  fs::copy_file(OSPRY_TEST_PACKAGE, package);
  {
    std::ofstream clip(package, std::ios::app | std::ios::binary);
    clip << std::string(4096, '\x5a') << "appended clip data";
  }
  fs::permissions(package, fs::perms::owner_exec, fs::perm_options::add);

  TProcess launcher;
  ASSERT_TRUE(launcher.Start(package.string(), "", ""));
  EXPECT_EQ(launcher.WaitForExit(), 0);
  auto record = Record();
  EXPECT_EQ(record.args, std::vector<std::string>{package.string()});
  EXPECT_TRUE(NoPayloadLeft());
}

}  // namespace
}  // namespace ospry::launcher
