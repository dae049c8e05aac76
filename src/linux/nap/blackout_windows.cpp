#include "linux/nap/blackout_windows.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr int kGrabRetryMilliseconds = 100;
constexpr int kResignCoalesceMilliseconds = 100;
const QColor kNearBlack(20, 17, 16);

InputKey inputKey(int key) {
  switch (key) {
    case Qt::Key_Return:
      return InputKey::returnKey;
    case Qt::Key_Enter:
      return InputKey::keypadEnter;
    case Qt::Key_Escape:
      return InputKey::escape;
    case Qt::Key_Space:
      return InputKey::space;
    default:
      return InputKey::other;
  }
}

// A modifier alone is not a key press the user means (the same on every platform).
bool isModifierOnly(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_unknown:
      return true;
    default:
      return false;
  }
}

bool compositorRuns() {
  xcb_connection_t* c = qtXcbConnection();
  if (!c) return false;
  const char* name = "_NET_WM_CM_S0";
  XcbReply<xcb_intern_atom_reply_t> atom(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr));
  if (!atom || atom->atom == XCB_ATOM_NONE) return false;
  XcbReply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
  return owner && owner->owner != XCB_WINDOW_NONE;
}

class LinuxNapWindow final : public NapWindow {
 public:
  LinuxNapWindow(LinuxNapDesktop& desktop, BlackoutWindow* window, Rect frame)
      : desktop_(desktop), window_(window), frame_(frame) {}
  ~LinuxNapWindow() override { close(); }

  Rect frame() const override { return frame_; }
  void setLevel(NapWindowLevel level) override {
    if (window_) desktop_.setFightsForTop(window_, level == NapWindowLevel::screenSaver);
  }
  void orderFrontRegardless() override {
    if (!window_) return;
    window_->show();
    window_->raise();
  }
  void makeKeyAndOrderFront() override {
    if (!window_) return;
    orderFrontRegardless();
    window_->activateWindow();
    desktop_.makeKey(window_);
  }
  void close() override {
    if (!window_) return;
    desktop_.windowClosed(window_);
    window_->hide();
    // Closing often happens inside one of the window's own event handlers.
    window_->deleteLater();
    window_ = nullptr;
  }

 private:
  LinuxNapDesktop& desktop_;
  QPointer<BlackoutWindow> window_;
  Rect frame_;
};

}  // namespace

BlackoutWindow::BlackoutWindow(LinuxNapDesktop& desktop, const ScreenInfo& screen, bool translucent)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint),
      desktop_(desktop),
      translucent_(translucent) {
  setWindowTitle("Tovami nap");
  setAttribute(Qt::WA_ShowWithoutActivating, false);
  if (translucent_) setAttribute(Qt::WA_TranslucentBackground);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setGeometry(
      QRect(int(screen.frame.x), int(screen.frame.y), int(screen.frame.width), int(screen.frame.height)));
  setCursor(desktop_.cursorHidden() ? Qt::BlankCursor : Qt::ArrowCursor);
}

void BlackoutWindow::setContent(QWidget* content) {
  if (!content) return;
  content->setParent(this);
  // Clicks and movement belong to the window; the scene only draws.
  content->setAttribute(Qt::WA_TransparentForMouseEvents);
  content->setFocusPolicy(Qt::NoFocus);
  content->setGeometry(rect());
  content->lower();
  content_ = content;
}

void BlackoutWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor fill = kNearBlack;
  // Where a compositor runs, the desktop shows faintly through; otherwise the dark is opaque.
  if (translucent_) fill.setAlphaF(0.92);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(rect(), fill);
}

void BlackoutWindow::resizeEvent(QResizeEvent*) {
  if (content_) content_->setGeometry(rect());
}

void BlackoutWindow::keyPressEvent(QKeyEvent* event) {
  if (isModifierOnly(event->key())) {
    event->accept();
    return;
  }
  // The server repeats a held key as release/press pairs with one timestamp, which Qt flags only
  // when both are already queued; a press of a key never released is a repeat as well.
  const quint32 code = event->nativeScanCode();
  const bool repeat = event->isAutoRepeat() || heldKeys_.count(code) > 0 ||
                      (lastRelease_.first == code && lastRelease_.second == event->timestamp());
  heldKeys_.insert(event->nativeScanCode());
  InputEvent input{InputEventType::keyDown, inputKey(event->key()), repeat};
  event->setAccepted(desktop_.dispatch(input));
}

void BlackoutWindow::keyReleaseEvent(QKeyEvent* event) {
  lastRelease_ = {event->nativeScanCode(), event->timestamp()};
  if (!event->isAutoRepeat()) heldKeys_.erase(event->nativeScanCode());
  event->accept();
}

void BlackoutWindow::mousePressEvent(QMouseEvent* event) {
  event->setAccepted(desktop_.dispatch(InputEvent{InputEventType::mouseDown}));
}

void BlackoutWindow::mouseMoveEvent(QMouseEvent* event) {
  event->setAccepted(desktop_.dispatch(InputEvent{InputEventType::mouseMoved}));
}

void BlackoutWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) desktop_.windowDeactivated(this);
  QWidget::changeEvent(event);
}

LinuxNapDesktop::LinuxNapDesktop(const ScreenProvider& screens) : screens_(screens) {
  grabRetry_.setInterval(kGrabRetryMilliseconds);
  connect(&grabRetry_, &QTimer::timeout, this, [this] { tryGrab(); });
  resignCoalesce_.setSingleShot(true);
  resignCoalesce_.setInterval(kResignCoalesceMilliseconds);
  connect(&resignCoalesce_, &QTimer::timeout, this, [this] { reportResignActive(); });
}

LinuxNapDesktop::~LinuxNapDesktop() {
  releaseGrabs();
  watchRoot(false);
  if (filterInstalled_ && QCoreApplication::instance())
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

std::vector<ScreenInfo> LinuxNapDesktop::screens() const {
  return screens_.screens();
}

std::unique_ptr<NapWindow> LinuxNapDesktop::makeBlackoutWindow(const ScreenInfo& screen) {
  const bool translucent = compositorRuns();
  auto* window = new BlackoutWindow(*this, screen, translucent);
  if (contentFactory_) window->setContent(contentFactory_(window, screen));
  windows_.push_back(window);
  fightsForTop_[window] = true;
  watchRoot(true);
  return std::make_unique<LinuxNapWindow>(*this, window, screen.frame);
}

InputMonitoring::Token LinuxNapDesktop::addLocalMonitor(unsigned mask, Handler handler) {
  monitors_[next_] = {mask, std::move(handler)};
  return next_++;
}

void LinuxNapDesktop::removeMonitor(Token token) {
  monitors_.erase(token);
}

InputMonitoring::Token LinuxNapDesktop::addResignActiveObserver(std::function<void()> observer) {
  resignObservers_[next_] = std::move(observer);
  return next_++;
}

void LinuxNapDesktop::removeResignActiveObserver(Token token) {
  resignObservers_.erase(token);
}

void LinuxNapDesktop::hideCursor() {
  if (++hideCount_ == 1)
    for (auto* window : windows_) window->setCursor(Qt::BlankCursor);
}

void LinuxNapDesktop::unhideCursor() {
  if (hideCount_ == 0) return;
  if (--hideCount_ == 0)
    for (auto* window : windows_) window->setCursor(Qt::ArrowCursor);
}

bool LinuxNapDesktop::dispatch(const InputEvent& event) {
  const unsigned bit = event.type == InputEventType::keyDown     ? input_mask::kKeyDown
                       : event.type == InputEventType::mouseDown ? input_mask::kMouseDown
                                                                 : input_mask::kMouseMoved;
  bool swallowed = false;
  // A handler may end the nap and remove monitors: walk a copy.
  auto monitors = monitors_;
  for (auto& [token, monitor] : monitors)
    if (monitor.first & bit) swallowed = monitor.second(event) || swallowed;
  return swallowed;
}

void LinuxNapDesktop::makeKey(BlackoutWindow* window) {
  if (keyWindow_ != window) releaseGrabs();
  keyWindow_ = window;
  grabFailureLogged_ = false;
  tryGrab();
}

void LinuxNapDesktop::setFightsForTop(BlackoutWindow* window, bool fights) {
  fightsForTop_[window] = fights;
}

void LinuxNapDesktop::windowDeactivated(BlackoutWindow* window) {
  if (window == keyWindow_) resignCoalesce_.start();
}

void LinuxNapDesktop::windowClosed(BlackoutWindow* window) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
  fightsForTop_.erase(window);
  if (window == keyWindow_) {
    releaseGrabs();
    keyWindow_ = nullptr;
  }
  if (windows_.empty()) {
    watchRoot(false);
    resignCoalesce_.stop();
  }
}

void LinuxNapDesktop::reportResignActive() {
  if (!keyWindow_ || !fightsForTop_[keyWindow_]) return;
  auto observers = resignObservers_;
  for (auto& [token, observer] : observers) observer();
}

void LinuxNapDesktop::tryGrab() {
  xcb_connection_t* c = qtXcbConnection();
  if (!c || !keyWindow_ || xcb_connection_has_error(c)) {
    grabRetry_.stop();
    return;
  }
  const auto target = xcb_window_t(keyWindow_->winId());
  // Keys all go to the key window; the pointer reports to whichever of our windows it is over.
  XcbReply<xcb_grab_keyboard_reply_t> keyboard(xcb_grab_keyboard_reply(
      c, xcb_grab_keyboard(c, 0, target, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
      nullptr));
  keyboardGrabbed_ = keyboard && keyboard->status == XCB_GRAB_STATUS_SUCCESS;
  XcbReply<xcb_grab_pointer_reply_t> pointer;
  if (keyboardGrabbed_) {
    const uint16_t mask = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                          XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
                          XCB_EVENT_MASK_LEAVE_WINDOW;
    pointer.reset(
        xcb_grab_pointer_reply(c,
                               xcb_grab_pointer(c, 1, target, mask, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                                                XCB_WINDOW_NONE, XCB_CURSOR_NONE, XCB_CURRENT_TIME),
                               nullptr));
    pointerGrabbed_ = pointer && pointer->status == XCB_GRAB_STATUS_SUCCESS;
  }
  if (keyboardGrabbed_ && pointerGrabbed_) {
    grabRetry_.stop();
    if (grabFailureLogged_) logInfo(log_categories::kNap, "nap: keyboard and pointer grabbed");
    grabFailureLogged_ = false;
    return;
  }
  // Never keep one grab without the other; try both again shortly, as screen lockers do.
  const int keyboardStatus = keyboard ? keyboard->status : -1;
  const int pointerStatus = pointer ? pointer->status : -1;
  releaseGrabs();
  if (!grabFailureLogged_) {
    logError(log_categories::kNap, "nap: input grab refused (keyboard status " +
                                       std::to_string(keyboardStatus) + ", pointer status " +
                                       std::to_string(pointerStatus) + "); retrying");
    grabFailureLogged_ = true;
  }
  if (!grabRetry_.isActive()) grabRetry_.start();
}

void LinuxNapDesktop::releaseGrabs() {
  grabRetry_.stop();
  xcb_connection_t* c = qtXcbConnection();
  if (c && !xcb_connection_has_error(c)) {
    if (keyboardGrabbed_) xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    if (pointerGrabbed_) xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    xcb_flush(c);
  }
  keyboardGrabbed_ = pointerGrabbed_ = false;
}

void LinuxNapDesktop::watchRoot(bool on) {
  if (on == rootWatched_) return;
  xcb_connection_t* c = qtXcbConnection();
  const xcb_window_t root = qtXcbRoot();
  if (!c || !root) return;
  if (on) {
    if (!filterInstalled_) {
      QCoreApplication::instance()->installNativeEventFilter(this);
      filterInstalled_ = true;
    }
    XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr));
    rootMaskBefore_ = attributes ? attributes->your_event_mask : 0;
    const uint32_t mask = rootMaskBefore_ | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
  } else {
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &rootMaskBefore_);
  }
  xcb_flush(c);
  rootWatched_ = on;
}

bool LinuxNapDesktop::isOurs(xcb_window_t window) const {
  for (auto* w : windows_)
    if (xcb_window_t(w->winId()) == window) return true;
  return false;
}

bool LinuxNapDesktop::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (!rootWatched_ || eventType != "xcb_generic_event_t") return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  const xcb_window_t root = qtXcbRoot();
  xcb_window_t parent = 0, window = 0;
  switch (event->response_type & 0x7f) {
    case XCB_MAP_NOTIFY: {
      auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
      parent = map->event;
      window = map->window;
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
      parent = configure->event;
      window = configure->window;
      break;
    }
    default:
      return false;
  }
  if (parent != root || window == root) return false;
  // Another window appeared or moved in the stack: raise, re-grab and re-hide shortly.
  if (!isOurs(window) && !resignCoalesce_.isActive()) resignCoalesce_.start();
  return true;  // only our root watch asked for these
}

}  // namespace tovami::linux_backend
