#include "launcher/F_Main.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <mutex>
#include <thread>

#include "launcher/U_Resource.h"
#include "platform/CallbackThread.h"

namespace ospry::launcher {

// What the watch thread shares with the window. The window clears form
// before it is destroyed; the thread posts only while holding lock, so it
// never posts to a window that is going away.
struct TWatchLink {
  std::mutex lock;
  TFMain* form = nullptr;  // guarded by lock
};

namespace {

QIcon LauncherIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0x2a, 0x5d, 0x8f));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(2, 2, 28, 28);
  painter.setBrush(Qt::white);
  painter.drawPolygon(QPolygon({QPoint(12, 9), QPoint(24, 16), QPoint(12, 23)}));
  return QIcon(pixmap);
}

std::string OwnExecutablePath() {
  return QCoreApplication::applicationFilePath().toStdString();
}

}  // namespace

TFMain::TFMain(TLauncherOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), watchLink_(std::make_shared<TWatchLink>()) {
  setWindowTitle(QStringLiteral("Ospry"));
  pop_main = new QMenu(this);
  pop_main->setObjectName(QStringLiteral("pop_main"));
  mi_close = pop_main->addAction(QStringLiteral("Exit Ospry"));
  mi_close->setObjectName(QStringLiteral("mi_close"));
  connect(mi_close, &QAction::triggered, this, &TFMain::mi_closeClick);
  watchLink_->form = this;
  FormCreate();
}

TFMain::~TFMain() { FormDestroy(); }

void TFMain::FormCreate() {
  resources_ = std::make_unique<TResource>(
      [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  ExtractPayloads();
  StartViewer();
  AddTrayIcon();
}

void TFMain::ExtractPayloads() {
  for (const TPayloadRow& row : options_.payloadTable) resources_->Extract(row.resourceName, row.fileName);
}

void TFMain::StartViewer() {
  const std::string package = options_.packagePath.empty() ? OwnExecutablePath() : options_.packagePath;
  // One argument, quoted so that blanks in the path survive.
  std::shared_ptr<TProcess> viewer = resources_->Run(kViewerResource, "\"" + package + "\"");
  // Detached: the thread holds its own references to the process and the
  // link, so it may outlive this window. A viewer that never started counts
  // as one that has already ended.
  std::thread([viewer, link = watchLink_] {
    SetCurrentThreadName("ospry-watch");
    if (viewer) viewer->WaitForExit();
    std::lock_guard<std::mutex> guard(link->lock);
    // Queued by name: the call record is made and freed inside Qt, so no
    // object of ours changes hands between the threads.
    if (link->form != nullptr) QMetaObject::invokeMethod(link->form, "ViewerEnded", Qt::QueuedConnection);
  }).detach();
}

void TFMain::AddTrayIcon() {
  // Without a notification area the launcher runs the same way, iconless.
  const bool isAvailable =
      options_.hasNotificationArea ? options_.hasNotificationArea() : QSystemTrayIcon::isSystemTrayAvailable();
  if (!isAvailable) return;
  trayIcon_ = new QSystemTrayIcon(LauncherIcon(), this);
  trayIcon_->setToolTip(QStringLiteral("Ospry"));
  // The context menu opens at the cursor on a right click; other clicks on
  // the icon do nothing.
  trayIcon_->setContextMenu(pop_main);
  trayIcon_->show();
}

void TFMain::FormDestroy() {
  {
    std::lock_guard<std::mutex> guard(watchLink_->lock);
    watchLink_->form = nullptr;
  }
  // A viewer-ended call may already be queued; this window will not take it.
  QCoreApplication::removePostedEvents(this);
  // Ends a running viewer (and waits for it) before deleting the payloads.
  resources_.reset();
  if (trayIcon_ != nullptr) {
    trayIcon_->hide();
    delete trayIcon_;
    trayIcon_ = nullptr;
  }
}

void TFMain::ViewerEnded() { CloseForm(); }

void TFMain::mi_closeClick() { CloseForm(); }

void TFMain::CloseForm() {
  if (isClosing_) return;
  isClosing_ = true;
  emit Closed();
}

}  // namespace ospry::launcher
