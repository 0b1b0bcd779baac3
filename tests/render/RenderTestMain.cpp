// The render tests need one QGuiApplication for the whole run; the platform
// comes from QT_QPA_PLATFORM (the wrappers set xcb or offscreen).
#include <gtest/gtest.h>

#include <QGuiApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
