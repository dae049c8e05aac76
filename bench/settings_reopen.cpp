// Reopening the settings window against a kept minimal Qt window, in one process on a real X display
// (bench/settings_reopen.py runs it under Xvfb with a window manager): the time from the open request
// to the window's first exposure, for the kept window, a window rebuilt at each open, and the baseline.
//
//     settings_reopen [runs]
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "linux/app/settings_window.h"
#include "platform/login_item.h"
#include "support/memory_preferences.h"

namespace {

using tovami::linux_backend::SettingsWindow;

struct NoLoginItem final : tovami::LoginItemService {
  bool isEnabled() const override { return false; }
  std::optional<std::string> setEnabled(bool) override { return std::nullopt; }
};

class ExposeWatch final : public QObject {
 public:
  bool exposed = false;
  bool eventFilter(QObject* window, QEvent* event) override {
    if (event->type() == QEvent::Expose && static_cast<QWindow*>(window)->isExposed()) exposed = true;
    return false;
  }
};

// Milliseconds from the open request (made by `open`, which returns the window) to its exposure.
double timeToExposed(const std::function<QWidget*()>& open) {
  QElapsedTimer timer;
  timer.start();
  QWidget* widget = open();
  widget->winId();
  ExposeWatch watch;
  widget->windowHandle()->installEventFilter(&watch);
  widget->show();
  widget->raise();
  widget->activateWindow();
  while (!watch.exposed) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double ms = timer.nsecsElapsed() / 1e6;
  widget->windowHandle()->removeEventFilter(&watch);
  return ms;
}

// The settings windows are closed as the user closes them; the baseline is only hidden.
void settle(QWidget* closing, bool hideOnly = false) {
  if (hideOnly)
    closing->hide();
  else
    closing->close();
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 80) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  tovami::testing::MemoryPreferences prefs;
  NoLoginItem login;
  auto makeSettings = [&] {
    return new SettingsWindow(
        std::make_unique<tovami::SettingsModel>(prefs, login, tovami::AppServices{}, false, nullptr), prefs,
        {});
  };
  // The baseline: a few labels and a switch in a window of the same size.
  QWidget minimal;
  auto* layout = new QVBoxLayout(&minimal);
  for (const char* text : {"Agent Watch", "Watch coding agents in the island", "Tovami 1.2"})
    layout->addWidget(new QLabel(text));
  layout->addWidget(new QCheckBox("Show plan usage in the island"));
  minimal.setFixedSize(SettingsWindow::kWidth, SettingsWindow::kMinHeight);
  SettingsWindow* kept = makeSettings();

  std::vector<double> baseline, reopened, rebuilt;
  for (int i = 0; i <= runs; ++i) {
    const double b = timeToExposed([&] { return &minimal; });
    settle(&minimal, true);
    const double k = timeToExposed([&] { return kept; });
    settle(kept);
    SettingsWindow* fresh = nullptr;
    const double r = timeToExposed([&] { return fresh = makeSettings(); });
    settle(fresh);
    delete fresh;
    if (i == 0) continue;  // the first round opens each for the first time
    baseline.push_back(b);
    reopened.push_back(k);
    rebuilt.push_back(r);
  }
  const double base = median(baseline);
  std::printf("minimal kept window %7.2f ms\n", base);
  std::printf("settings, kept      %7.2f ms  %.2fx\n", median(reopened), median(reopened) / base);
  std::printf("settings, rebuilt   %7.2f ms  %.2fx\n", median(rebuilt), median(rebuilt) / base);
  std::printf("(medians of %d opens each, open request to first exposure)\n", runs);
  delete kept;
  return 0;
}
