// The launcher: the program a clip package runs.
#include <QApplication>

#include "launcher/F_Main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Ospry"));
  // The window is never shown; ending is decided by the viewer and the menu.
  app.setQuitOnLastWindowClosed(false);
  ospry::launcher::TFMain form;
  QObject::connect(&form, &ospry::launcher::TFMain::Closed, &app, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  return app.exec();
}
