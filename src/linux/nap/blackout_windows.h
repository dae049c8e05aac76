// The Linux blackout: one borderless override-redirect window per display, above every other
// window and on every workspace, holding raw keyboard and pointer grabs while a nap runs.
// Something that takes the focus or stacks above us is reported as the application resigning
// active, and the controller brings the nap back to the front (raise, re-grab, re-hide).
#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <set>

#include "platform/input.h"
#include "linux/x11/xcb_support.h"
#include "platform/nap_windows.h"
#include "platform/screens.h"

namespace tovami::linux_backend {

// Makes the scene drawn inside a blackout window; null means a plain dark window.
using NapContentFactory = std::function<QWidget*(QWidget* parent, const ScreenInfo& screen)>;

class LinuxNapDesktop;

class BlackoutWindow final : public QWidget {
 public:
  BlackoutWindow(LinuxNapDesktop& desktop, const ScreenInfo& screen, bool translucent);
  // Places the scene inside the window, filling it; it draws only (input stays with the window).
  void setContent(QWidget* content);
  QWidget* content() const { return content_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  LinuxNapDesktop& desktop_;
  QPointer<QWidget> content_;
  bool translucent_;
  std::set<quint32> heldKeys_;                     // native key codes pressed and not yet released
  std::pair<quint32, quint64> lastRelease_{0, 0};  // key code and time of the last release
};

class LinuxNapDesktop final : public QObject,
                              public NapWindowSystem,
                              public InputMonitoring,
                              public QAbstractNativeEventFilter {
 public:
  explicit LinuxNapDesktop(const ScreenProvider& screens);
  ~LinuxNapDesktop() override;

  void setContentFactory(NapContentFactory factory) { contentFactory_ = std::move(factory); }

  // NapWindowSystem
  std::vector<ScreenInfo> screens() const override;
  std::unique_ptr<NapWindow> makeBlackoutWindow(const ScreenInfo& screen) override;
  void activateIgnoringOtherApps() override {}

  // InputMonitoring
  Token addLocalMonitor(unsigned mask, Handler handler) override;
  void removeMonitor(Token token) override;
  Token addResignActiveObserver(std::function<void()> observer) override;
  void removeResignActiveObserver(Token token) override;
  void hideCursor() override;
  void unhideCursor() override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  // The window that receives key events (where a password prompt goes); null when none.
  BlackoutWindow* keyWindow() const { return keyWindow_; }
  bool hasInputGrabs() const { return keyboardGrabbed_ && pointerGrabbed_; }

  // Called by the windows.
  bool dispatch(const InputEvent& event);
  void windowDeactivated(BlackoutWindow* window);
  void makeKey(BlackoutWindow* window);
  void setFightsForTop(BlackoutWindow* window, bool fights);
  void windowClosed(BlackoutWindow* window);
  bool cursorHidden() const { return hideCount_ > 0; }

 private:
  void tryGrab();
  void releaseGrabs();
  void watchRoot(bool on);
  void reportResignActive();
  bool isOurs(xcb_window_t window) const;

  const ScreenProvider& screens_;
  NapContentFactory contentFactory_;
  std::map<Token, std::pair<unsigned, Handler>> monitors_;
  std::map<Token, std::function<void()>> resignObservers_;
  Token next_ = 1;
  int hideCount_ = 0;
  std::vector<BlackoutWindow*> windows_;
  std::map<BlackoutWindow*, bool> fightsForTop_;
  QPointer<BlackoutWindow> keyWindow_;
  bool keyboardGrabbed_ = false;
  bool pointerGrabbed_ = false;
  bool grabFailureLogged_ = false;
  QTimer grabRetry_;
  QTimer resignCoalesce_;
  bool rootWatched_ = false;
  uint32_t rootMaskBefore_ = 0;
  bool filterInstalled_ = false;
};

}  // namespace tovami::linux_backend
