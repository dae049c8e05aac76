#include "linux/nap/blackout_windows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/log.h"

namespace tovami::linux_backend {
namespace {

constexpr int kGrabRetryMilliseconds = 100;
constexpr int kKeyboardGraceMilliseconds = 5000;
constexpr int kResignCoalesceMilliseconds = 100;
constexpr int kFirstFrameDelayMilliseconds = 40;
constexpr int kShowDelayMilliseconds = 3;
constexpr auto kCoverSettle = std::chrono::milliseconds(3);
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
    // Every display goes dark and the grabs are asked for at once; Qt's show follows shortly.
    desktop_.cover();
    if (!window_->isVisible()) {
      desktop_.showSoon(window_);
      return;
    }
    window_->raise();
    if (xcb_connection_t* c = qtXcbConnection()) xcb_flush(c);
  }
  void makeKeyAndOrderFront() override {
    if (!window_) return;
    orderFrontRegardless();
    desktop_.makeKeySoon(window_);
  }
  void close() override {
    if (!window_) return;
    // Unmapped and kept for the next nap; the desktop owns it from here.
    window_->unmapIfNeverShown();
    window_->hide();
    desktop_.windowClosed(window_);
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
      screen_(screen),
      translucent_(translucent) {
  setWindowTitle("Tovami nap");
  setAttribute(Qt::WA_ShowWithoutActivating, false);
  if (translucent_) setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_OpaquePaintEvent);  // paintEvent fills every pixel it is given
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setGeometry(
      QRect(int(screen.frame.x), int(screen.frame.y), int(screen.frame.width), int(screen.frame.height)));
  setCursor(desktop_.cursorHidden() ? Qt::BlankCursor : Qt::ArrowCursor);
}

QColor BlackoutWindow::backdrop() const {
  QColor fill = kNearBlack;
  // Where a compositor runs, the desktop shows faintly through; otherwise the dark is opaque.
  if (translucent_) fill.setAlphaF(0.92);
  return fill;
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

void BlackoutWindow::paintEvent(QPaintEvent* event) {
  if (content_) return;  // the scene paints the backdrop with itself
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(event->rect(), backdrop());
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

void BlackoutWindow::hideEvent(QHideEvent* event) {
  // Keys held when the nap ends are released elsewhere.
  heldKeys_.clear();
  mappedAhead_ = false;
  lastRelease_ = {0, 0};
  QWidget::hideEvent(event);
}

void BlackoutWindow::mapAhead(xcb_connection_t* c) {
  const auto id = xcb_window_t(winId());
  // The X server fills the window with its background the moment it maps, before Qt has painted
  // anything: the display is dark at once, however long the first frame of the scene takes.
  const QColor dark = backdrop();
  // A translucent window has a 32-bit visual that takes premultiplied ARGB; the others take RGB.
  const double alpha = translucent_ ? dark.alphaF() : 1.0;
  const auto channel = [alpha](int value) { return uint32_t(std::lround(value * alpha)); };
  uint32_t pixel = channel(dark.red()) << 16 | channel(dark.green()) << 8 | channel(dark.blue());
  if (translucent_) pixel |= uint32_t(dark.alpha()) << 24;
  xcb_change_window_attributes(c, id, XCB_CW_BACK_PIXEL, &pixel);
  // Raised while still unmapped: windows made since the last nap sit above this one, and a window
  // mapped first and raised after would be painted twice, part under them and then the rest.
  const uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(c, id, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  xcb_map_window(c, id);
  mappedAhead_ = true;
}

void BlackoutWindow::holdFirstFrame() {
  // Until then the window shows its server-side dark; its first frame (an image of the whole
  // display) must not compete with the server and a compositor putting the cover up.
  setUpdatesEnabled(false);
  QTimer::singleShot(kFirstFrameDelayMilliseconds, this, [this] { setUpdatesEnabled(true); });
}

void BlackoutWindow::unmapIfNeverShown() {
  if (!mappedAhead_ || isVisible()) return;
  mappedAhead_ = false;
  if (xcb_connection_t* c = qtXcbConnection(); c && !xcb_connection_has_error(c)) {
    xcb_unmap_window(c, xcb_window_t(winId()));
    xcb_flush(c);
  }
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
  keyboardDeadline_.setSingleShot(true);
  keyboardDeadline_.setInterval(kKeyboardGraceMilliseconds);
  connect(&keyboardDeadline_, &QTimer::timeout, this, [this] { keyboardUnavailable(); });
  resignCoalesce_.setSingleShot(true);
  resignCoalesce_.setInterval(kResignCoalesceMilliseconds);
  connect(&resignCoalesce_, &QTimer::timeout, this, [this] { reportResignActive(); });
  showTimer_.setSingleShot(true);
  showTimer_.setTimerType(Qt::PreciseTimer);
  showTimer_.setInterval(kShowDelayMilliseconds);
  connect(&showTimer_, &QTimer::timeout, this, [this] { finishCover(); });
}

LinuxNapDesktop::~LinuxNapDesktop() {
  releaseGrabs();
  watchRoot(false);
  if (filterInstalled_ && QCoreApplication::instance())
    QCoreApplication::instance()->removeNativeEventFilter(this);
  for (auto* window : windows_) delete window;
  for (auto* window : idle_) delete window;
}

std::vector<ScreenInfo> LinuxNapDesktop::screens() const {
  return screens_.screens();
}

void LinuxNapDesktop::reportBusyAtNapStart() {
  // The time until the event loop runs again: how long the nap start kept the GUI thread.
  QElapsedTimer started;
  started.start();
  QTimer::singleShot(0, this, [started] {
    char text[96];
    std::snprintf(text, sizeof text, "nap: GUI thread busy for %.2f ms at nap start",
                  double(started.nsecsElapsed()) / 1e6);
    logInfo(log_categories::kNap, text);
  });
}

bool LinuxNapDesktop::compositorRuns() {
  if (!compositor_) compositor_ = qtCompositorRuns();
  return *compositor_;
}

void LinuxNapDesktop::discardIdleWindows() {
  ++generation_;
  for (auto* window : std::exchange(idle_, {})) window->deleteLater();
}

void LinuxNapDesktop::prepareWindows() {
  for (const auto& screen : screens_.screens()) {
    BlackoutWindow* window = takeWindow(screen);
    window->winId();
    // Both cursors come from the cursor theme on disk the first time they are set.
    window->setCursor(Qt::BlankCursor);
    window->setCursor(cursorHidden() ? Qt::BlankCursor : Qt::ArrowCursor);
    // The backing store (megabytes of shared memory per display) waits for the first nap: the
    // window's server-side background darkens the display before the first frame is drawn.
    idle_.push_back(window);
  }
}

BlackoutWindow* LinuxNapDesktop::takeWindow(const ScreenInfo& screen) {
  // A window kept from an earlier nap on the same display is used again as it is; windows of
  // displays that are gone are dropped.
  const auto current = screens_.screens();
  BlackoutWindow* window = nullptr;
  for (auto it = idle_.begin(); it != idle_.end();) {
    if (!window && (*it)->screen() == screen) {
      window = *it;
      it = idle_.erase(it);
    } else if (std::find(current.begin(), current.end(), (*it)->screen()) == current.end()) {
      (*it)->deleteLater();
      it = idle_.erase(it);
    } else {
      ++it;
    }
  }
  if (window) {
    // Only a change is sent: Qt sends and flushes every cursor it is given, which would wake the
    // server once more before the maps.
    const Qt::CursorShape shape = cursorHidden() ? Qt::BlankCursor : Qt::ArrowCursor;
    if (window->cursor().shape() != shape) window->setCursor(shape);
    return window;
  }
  window = new BlackoutWindow(*this, screen, compositorRuns());
  window->generation = generation_;
  if (contentFactory_) window->setContent(contentFactory_(window, screen));
  return window;
}

std::unique_ptr<NapWindow> LinuxNapDesktop::makeBlackoutWindow(const ScreenInfo& screen) {
  if (windows_.empty()) reportBusyAtNapStart();
  BlackoutWindow* window = takeWindow(screen);
  windows_.push_back(window);
  fightsForTop_[window] = true;
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
  if (--hideCount_ == 0) {
    // The kept windows too, so that the next nap finds their cursor as it wants it.
    for (auto* window : windows_) window->setCursor(Qt::ArrowCursor);
    for (auto* window : idle_) window->setCursor(Qt::ArrowCursor);
  }
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

void LinuxNapDesktop::cover() {
  xcb_connection_t* c = qtXcbConnection();
  if (!c || xcb_connection_has_error(c)) return;
  bool mapped = false;
  for (auto* window : windows_) {
    if (window->isVisible() || window->mappedAhead()) continue;
    window->mapAhead(c);
    mapped = true;
  }
  if (!mapped) return;
  // The server takes the grabs right after the maps, in order; their replies are read once the
  // window is key, after Qt's show.
  const auto target = xcb_window_t(windows_.back()->winId());
  if (grabTarget_ != target) releaseGrabs();
  requestGrabs(c, target);
  xcb_flush(c);
  letCoverSettle();
  watchRoot(true);
}

void LinuxNapDesktop::letCoverSettle() {
  // The server paints each cover as it maps it, and a compositor then needs the processor to put
  // it on screen. The rest of the nap start (Qt's handling of the maps, the island, keep-awake)
  // would compete with both on a busy machine, so the GUI thread stands aside for a moment once
  // the maps and grabs are sent. Keys meanwhile queue behind the grab, which the server takes
  // before it reads any later input.
  std::this_thread::sleep_for(kCoverSettle);
}

void LinuxNapDesktop::showSoon(BlackoutWindow* window) {
  if (std::find(pendingShows_.begin(), pendingShows_.end(), window) == pendingShows_.end())
    pendingShows_.push_back(window);
  if (!showTimer_.isActive()) showTimer_.start();
}

void LinuxNapDesktop::makeKeySoon(BlackoutWindow* window) {
  if (pendingShows_.empty()) {
    window->activateWindow();
    makeKey(window);
    return;
  }
  pendingKey_ = window;
}

void LinuxNapDesktop::finishCover() {
  showTimer_.stop();
  const auto open = [this](BlackoutWindow* window) {
    return window && std::find(windows_.begin(), windows_.end(), window) != windows_.end();
  };
  QElapsedTimer started;
  started.start();
  for (auto* window : std::exchange(pendingShows_, {})) {
    if (!open(window) || window->isVisible()) continue;
    window->holdFirstFrame();
    window->show();
    window->raise();
  }
  if (xcb_connection_t* c = qtXcbConnection()) xcb_flush(c);
  if (BlackoutWindow* key = std::exchange(pendingKey_, nullptr); open(key)) {
    key->activateWindow();
    makeKey(key);
  }
  char text[80];
  std::snprintf(text, sizeof text, "nap: windows shown in %.2f ms after the cover",
                double(started.nsecsElapsed()) / 1e6);
  logInfo(log_categories::kNap, text);
}

void LinuxNapDesktop::makeKey(BlackoutWindow* window) {
  if (grabTarget_ != xcb_window_t(window->winId())) releaseGrabs();
  keyWindow_ = window;
  tryGrab();
}

void LinuxNapDesktop::setFightsForTop(BlackoutWindow* window, bool fights) {
  fightsForTop_[window] = fights;
}

void LinuxNapDesktop::windowDeactivated(BlackoutWindow* window) {
  if (window == keyWindow_) resignCoalesce_.start();
}

void LinuxNapDesktop::windowClosed(BlackoutWindow* window) {
  pendingShows_.erase(std::remove(pendingShows_.begin(), pendingShows_.end(), window), pendingShows_.end());
  if (pendingKey_ == window) pendingKey_ = nullptr;
  if (pendingShows_.empty() && !pendingKey_) showTimer_.stop();
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
  fightsForTop_.erase(window);
  if (window->generation == generation_)
    idle_.push_back(window);
  else
    window->deleteLater();
  if (window == keyWindow_ || xcb_window_t(window->winId()) == grabTarget_) {
    releaseGrabs();
    if (window == keyWindow_) keyWindow_ = nullptr;
  }
  if (windows_.empty()) {
    watchRoot(false);
    resignCoalesce_.stop();
    keyboardDeadline_.stop();
    grabFailureLogged_ = false;  // the next nap warns afresh
  }
}

void LinuxNapDesktop::reportResignActive() {
  if (!keyWindow_ || !fightsForTop_[keyWindow_]) return;
  auto observers = resignObservers_;
  for (auto& [token, observer] : observers) observer();
}

void LinuxNapDesktop::requestGrabs(xcb_connection_t* c, xcb_window_t target) {
  grabTarget_ = target;
  // Keys all go to the key window; the pointer reports to whichever of our windows it is over,
  // so a click on the blackout still wakes while the keyboard is missing.
  if (!keyboardGrabbed_ && !pendingKeyboard_)
    pendingKeyboard_ =
        xcb_grab_keyboard(c, 0, target, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  if (!pointerGrabbed_ && !pendingPointer_) {
    const uint16_t mask = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                          XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
                          XCB_EVENT_MASK_LEAVE_WINDOW;
    pendingPointer_ = xcb_grab_pointer(c, 1, target, mask, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                                       XCB_WINDOW_NONE, XCB_CURSOR_NONE, XCB_CURRENT_TIME);
  }
}

std::pair<int, int> LinuxNapDesktop::collectGrabReplies(xcb_connection_t* c) {
  int keyboardStatus = XCB_GRAB_STATUS_SUCCESS, pointerStatus = XCB_GRAB_STATUS_SUCCESS;
  if (auto cookie = std::exchange(pendingKeyboard_, std::nullopt)) {
    XcbReply<xcb_grab_keyboard_reply_t> keyboard(xcb_grab_keyboard_reply(c, *cookie, nullptr));
    keyboardStatus = keyboard ? keyboard->status : -1;
    keyboardGrabbed_ = keyboardStatus == XCB_GRAB_STATUS_SUCCESS;
  }
  if (auto cookie = std::exchange(pendingPointer_, std::nullopt)) {
    XcbReply<xcb_grab_pointer_reply_t> pointer(xcb_grab_pointer_reply(c, *cookie, nullptr));
    pointerStatus = pointer ? pointer->status : -1;
    pointerGrabbed_ = pointerStatus == XCB_GRAB_STATUS_SUCCESS;
  }
  return {keyboardStatus, pointerStatus};
}

void LinuxNapDesktop::tryGrab() {
  xcb_connection_t* c = qtXcbConnection();
  if (!c || !keyWindow_ || xcb_connection_has_error(c)) {
    grabRetry_.stop();
    return;
  }
  // Each grab is kept once taken: the keyboard protects typing even while the pointer is held
  // elsewhere.
  requestGrabs(c, xcb_window_t(keyWindow_->winId()));
  const auto [keyboardStatus, pointerStatus] = collectGrabReplies(c);
  if (keyboardGrabbed_) keyboardDeadline_.stop();
  if (keyboardGrabbed_ && pointerGrabbed_) {
    grabRetry_.stop();
    if (grabFailureLogged_) logInfo(log_categories::kNap, "nap: keyboard and pointer grabbed");
    return;
  }
  // Another client holds a grab: try again shortly, as screen lockers do.
  if (!grabFailureLogged_) {
    logError(log_categories::kNap,
             "nap: warning: input grab refused (keyboard status " + std::to_string(keyboardStatus) +
                 ", pointer status " + std::to_string(pointerStatus) +
                 "); another program holds the input; retrying" +
                 (keyboardGrabbed_ ? "" : ", and keys do not count until the keyboard is ours"));
    grabFailureLogged_ = true;
  }
  if (!keyboardGrabbed_ && !keyboardDeadline_.isActive()) keyboardDeadline_.start();
  if (!grabRetry_.isActive()) grabRetry_.start();
}

void LinuxNapDesktop::keyboardUnavailable() {
  if (keyboardGrabbed_ || windows_.empty()) return;
  logError(log_categories::kNap,
           "nap: ending the nap: the keyboard could not be grabbed within " +
               std::to_string(kKeyboardGraceMilliseconds / 1000) +
               " s (another program holds it), and a nap that does not hold the keyboard only looks "
               "closed");
  if (onKeyboardUnavailable_) onKeyboardUnavailable_();
}

void LinuxNapDesktop::releaseGrabs() {
  grabRetry_.stop();
  // Nothing held or asked for (a nap start): nothing to send, so the maps and grabs share a flush.
  const bool any = keyboardGrabbed_ || pointerGrabbed_ || pendingKeyboard_ || pendingPointer_;
  xcb_connection_t* c = qtXcbConnection();
  if (any && c && !xcb_connection_has_error(c)) {
    collectGrabReplies(c);  // a grab asked for and not yet answered may have been taken
    if (keyboardGrabbed_) xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    if (pointerGrabbed_) xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    xcb_flush(c);
  }
  pendingKeyboard_.reset();
  pendingPointer_.reset();
  keyboardGrabbed_ = pointerGrabbed_ = false;
  grabTarget_ = XCB_WINDOW_NONE;
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
  for (const auto* list : {&windows_, &idle_})
    for (auto* w : *list)
      if (xcb_window_t(w->winId()) == window) return true;
  return false;
}

bool LinuxNapDesktop::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  const uint8_t type = event->response_type & 0x7f;
  // A press during the first moments (a click may come through XInput) finds the windows shown
  // and the grabs' answers read.
  if ((type == XCB_KEY_PRESS || type == XCB_BUTTON_PRESS || type == XCB_GE_GENERIC) &&
      (!pendingShows_.empty() || pendingKey_))
    finishCover();
  if (!rootWatched_) return false;
  const xcb_window_t root = qtXcbRoot();
  xcb_window_t parent = 0, window = 0;
  switch (type) {
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
