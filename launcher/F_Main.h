#pragma once
// The launcher's main window: never shown. It writes the payloads, starts the
// viewer with the package's own path, shows a notification-area icon whose
// menu has the one item "Exit Ospry", and lives exactly as long as the
// viewer. When the viewer ends, or the user picks "Exit Ospry", it emits
// Closed; destroying it ends a still-running viewer, deletes every payload it
// wrote and then removes the icon.
//
// Threading: main (GUI) thread only. One detached watch thread per window
// waits for the viewer's end and tells the main thread through a queued call;
// it touches nothing but a small shared link guarded by its own mutex, which
// the window cuts before it goes away.
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/D_Resource.h"

class QMenu;
class QAction;
class QSystemTrayIcon;

namespace ospry::launcher {

class TResource;
struct TWatchLink;

struct TLauncherOptions {
  // Rows written in this order; the row whose resource is kViewerResource is
  // started.
  std::vector<TPayloadRow> payloadTable{PayloadTable().begin(), PayloadTable().end()};
  // The package whose path the viewer receives; empty: this program's file.
  std::string packagePath;
  // Whether the desktop has a notification area; empty: ask Qt. Tests give
  // either answer to run both ways on any display.
  std::function<bool()> hasNotificationArea{};
};

class TFMain : public QWidget {
  Q_OBJECT
public:
  explicit TFMain(TLauncherOptions options = {}, QWidget* parent = nullptr);
  ~TFMain() override;

  // True when the notification area was available and the icon is shown.
  bool HasTrayIcon() const { return trayIcon_ != nullptr; }
  // The icon (tip "Ospry", context menu pop_main), or null without one. Owned
  // by the window; removed when the window is destroyed.
  QSystemTrayIcon* TrayIcon() const { return trayIcon_; }

signals:
  // The launcher should end: the viewer has ended or the user chose "Exit
  // Ospry". Emitted once.
  void Closed();

private slots:
  void mi_closeClick();
  // The viewer process has ended (queued from the watch thread).
  void ViewerEnded();

private:
  void FormCreate();
  void ExtractPayloads();
  void StartViewer();
  void AddTrayIcon();
  void FormDestroy();
  void CloseForm();

  TLauncherOptions options_;
  QMenu* pop_main = nullptr;
  QAction* mi_close = nullptr;
  std::unique_ptr<TResource> resources_;
  QSystemTrayIcon* trayIcon_ = nullptr;  // child of this window; null without a notification area
  std::shared_ptr<TWatchLink> watchLink_;
  bool isClosing_ = false;
};

}  // namespace ospry::launcher
