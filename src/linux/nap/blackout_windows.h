// The Linux blackout: one borderless override-redirect window per display, above every other
// window and on every workspace, holding raw keyboard and pointer grabs while a nap runs.
// Something that takes the focus or stacks above us is reported as the application resigning
// active, and the controller brings the nap back to the front (raise, re-grab, re-hide).
// A closed window is only unmapped: the next nap on the same displays maps it again, backing
// store and scene included, so that a nap covers the screens at once. A nap start maps every
// display's window and asks for the grabs in one flush, before Qt's own show does its work, and
// keeps the GUI thread out of the server's and a compositor's way while they put the cover up.
// The keyboard and pointer grabs are taken one by one and retried while another client holds
// them; keys count only while the keyboard is ours, and a nap that cannot take the keyboard
// within a few seconds is ended rather than left looking closed.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "linux/x11/xcb_support.h"
#include "platform/input.h"
#include "platform/nap_windows.h"
#include "platform/screens.h"

namespace tovami::linux_backend {

class BlackoutWindow;
class LinuxNapDesktop;

// Makes the scene drawn inside a blackout window; null means a plain dark window. The scene
// paints the window's backdrop() itself, so that each frame is painted once.
using NapContentFactory = std::function<QWidget*(BlackoutWindow* parent, const ScreenInfo& screen)>;

class BlackoutWindow final : public QWidget {
 public:
  BlackoutWindow(LinuxNapDesktop& desktop, const ScreenInfo& screen, bool translucent);
  // Places the scene inside the window, filling it; it draws only (input stays with the window).
  void setContent(QWidget* content);
  QWidget* content() const { return content_; }
  const ScreenInfo& screen() const { return screen_; }
  int generation = 0;  // the desktop's generation it was made in
  // The dark the window shows: opaque, or faintly see-through where a compositor runs.
  QColor backdrop() const;
  // Asks the server to map the window dark and on top, before Qt shows it; the caller flushes.
  void mapAhead(xcb_connection_t* c);
  bool mappedAhead() const { return mappedAhead_; }
  // Paints the scene a moment after the window shows, not at once.
  void holdFirstFrame();
  // Undoes mapAhead for a window Qt never showed (Qt's hide would not unmap it).
  void unmapIfNeverShown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  LinuxNapDesktop& desktop_;
  ScreenInfo screen_;
  QPointer<QWidget> content_;
  bool translucent_;
  bool mappedAhead_ = false;
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
  // Called when the keyboard stayed with another client past the grace period; the nap should end.
  void setOnKeyboardUnavailable(std::function<void()> handler) {
    onKeyboardUnavailable_ = std::move(handler);
  }
  // Builds (unmapped) the windows of the current displays ahead of the first nap, with their
  // scenes and cursors; their backing stores wait for the first nap.
  void prepareWindows();
  // Drops the windows kept for the next nap (their scene is out of date); open ones are dropped
  // when they close.
  void discardIdleWindows();

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
  bool holdsKeyboard() const override { return keyboardGrabbed_; }
  bool canHoldKeyboard() const override { return canHoldKeyboard_; }
  // False in a Wayland session (XWayland): the grab reaches X11 windows only.
  void setCanHoldKeyboard(bool can) { canHoldKeyboard_ = can; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  // The window that receives key events (where a password prompt goes); null when none.
  BlackoutWindow* keyWindow() const { return keyWindow_; }

  // Called by the windows.
  // Maps the open windows not yet on screen and asks for the grabs on the window to become key
  // (the last one made), all in one flush: the displays go dark and keys stay ours at once.
  void cover();
  bool dispatch(const InputEvent& event);
  void windowDeactivated(BlackoutWindow* window);
  // Qt's show of a window mapped by cover() and making it key wait a few milliseconds, so that
  // the server and a compositor put the cover up undisturbed; a key or button press comes first.
  void showSoon(BlackoutWindow* window);
  void makeKeySoon(BlackoutWindow* window);
  void makeKey(BlackoutWindow* window);
  void setFightsForTop(BlackoutWindow* window, bool fights);
  void windowClosed(BlackoutWindow* window);
  bool cursorHidden() const { return hideCount_ > 0; }

 private:
  void finishCover();
  void letCoverSettle();
  void tryGrab();
  void requestGrabs(xcb_connection_t* c, xcb_window_t target);
  // Reads the answers to the grabs asked for; the statuses (success when none was asked).
  std::pair<int, int> collectGrabReplies(xcb_connection_t* c);
  void releaseGrabs();
  void keyboardUnavailable();
  void reportBusyAtNapStart();
  bool compositorRuns();
  BlackoutWindow* takeWindow(const ScreenInfo& screen);
  void watchRoot(bool on);
  void reportResignActive();
  bool isOurs(xcb_window_t window) const;

  const ScreenProvider& screens_;
  NapContentFactory contentFactory_;
  std::map<Token, std::pair<unsigned, Handler>> monitors_;
  std::map<Token, std::function<void()>> resignObservers_;
  Token next_ = 1;
  int hideCount_ = 0;
  std::vector<BlackoutWindow*> windows_;  // open, in the order they were made
  std::vector<BlackoutWindow*> idle_;     // closed and unmapped, kept for the next nap
  std::optional<bool> compositor_;
  bool canHoldKeyboard_ = true;
  int generation_ = 0;
  std::map<BlackoutWindow*, bool> fightsForTop_;
  QPointer<BlackoutWindow> keyWindow_;
  bool keyboardGrabbed_ = false;
  bool pointerGrabbed_ = false;
  xcb_window_t grabTarget_ = XCB_WINDOW_NONE;  // the window the grabs held or asked for report to
  // Grabs asked for by cover() whose replies are read when the window becomes key.
  std::optional<xcb_grab_keyboard_cookie_t> pendingKeyboard_;
  std::optional<xcb_grab_pointer_cookie_t> pendingPointer_;
  bool grabFailureLogged_ = false;
  std::function<void()> onKeyboardUnavailable_;
  QTimer grabRetry_;
  QTimer keyboardDeadline_;
  QTimer resignCoalesce_;
  QTimer showTimer_;
  std::vector<BlackoutWindow*> pendingShows_;
  BlackoutWindow* pendingKey_ = nullptr;
  bool rootWatched_ = false;
  uint32_t rootMaskBefore_ = 0;
  bool filterInstalled_ = false;
};

}  // namespace tovami::linux_backend
