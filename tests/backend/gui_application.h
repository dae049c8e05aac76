// One widget application for the whole run (text, menus and windows need it), off screen unless the
// caller chose a platform.
#pragma once

#include <QApplication>

inline void ensureGuiApplication() {
  static int argc = 1;
  static char name[] = "tovami_backend_tests", *argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qApp) new QApplication(argc, argv);
}
