// The render tests need one QGuiApplication for the whole run; the platform
// comes from QT_QPA_PLATFORM (the wrappers set xcb or offscreen).
#include <gtest/gtest.h>

#include <QGuiApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Kept alive until the process ends: closing the display unloads the GL
  // driver, after which the leak checker cannot name the driver's own
  // process-lifetime allocations.
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  (void)app;
  return RUN_ALL_TESTS();
}
