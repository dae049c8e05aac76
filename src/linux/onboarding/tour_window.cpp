#include "linux/onboarding/tour_window.h"

#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "app/platform_wording.h"
#include "linux/onboarding/tour_controls.h"
#include "linux/qt/qt_canvas.h"
#include "nap/pixel_cat_scene.h"
#include "onboarding/onboarding_texts.h"
#include "pixel_art/palette.h"
#include "pixel_art/pixel_grid.h"

namespace tovami::linux_backend {
namespace {

namespace texts = tour_texts;

constexpr int kPageWidth = 760;
constexpr double kCapsuleHeight = 7;
constexpr double kCapsuleCurrent = 22;
constexpr double kCapsuleOther = 7;
constexpr double kCapsuleSpacing = 8;
constexpr double kCapsuleTop = 72;
constexpr double kPageRise = 44;
constexpr double kCatDot = 4;
constexpr double kCatGap = 1.2;
constexpr double kCatBottom = 36;
constexpr double kCatStride = 9;
constexpr int kCatStepMs = 150;
constexpr double kBackdropOpacity = 0.9;

const char* const kStyle = R"(
  QLabel#headline { color: #FAF9F5; font-size: 40px; font-weight: 600; }
  QLabel#body { color: #F3EFE6; font-size: 19px; }
  QLabel#note { color: #A99E90; font-size: 15px; }
  QLabel#success { color: #8FBF7F; font-size: 19px; font-weight: 600; }
  QLabel#rowTitle { color: #FAF9F5; font-size: 17px; font-weight: 600; }
  QLabel#rowCaption { color: #A99E90; font-size: 14px; }
  QLabel#switchLabel { color: #F3EFE6; font-size: 17px; }
  QPushButton#primary { background: #D97757; color: #FAF9F5; border: 2px solid #D97757; border-radius: 12px;
                        padding: 10px 30px; font-size: 17px; font-weight: 600; }
  QPushButton#primary:focus { border-color: #F3EFE6; }
  QPushButton#primary:hover { background: #B4552D; border-color: #B4552D; }
  QPushButton#plain { background: transparent; color: #F3EFE6; border: 1px solid #A99E90; border-radius: 12px;
                      padding: 9px 26px; font-size: 16px; }
  QPushButton#plain:focus { border-color: #F3EFE6; }
  QPushButton#link { background: transparent; color: #A99E90; border: none; font-size: 15px; padding: 4px; }
  QPushButton#link:hover, QPushButton#link:focus { color: #F3EFE6; text-decoration: underline; }
  QFrame#row { background: #2E2721; border-radius: 14px; }
  QLabel#keycap { color: #F3EFE6; background: #2E2721; border: 1px solid #4A4038; border-bottom: 3px solid #4A4038;
                  border-radius: 8px; padding: 8px 14px; font-size: 18px; font-weight: 600; }
)";

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

QColor qcolor(const Color& color, double alpha = 1) {
  return QColor(color.red, color.green, color.blue, static_cast<int>(std::clamp(alpha, 0.0, 1.0) * 255));
}

QLabel* label(const std::string& text, const char* role) {
  auto* result = new QLabel(qs(text));
  result->setObjectName(role);
  result->setWordWrap(true);
  result->setAlignment(Qt::AlignHCenter);
  result->setTextInteractionFlags(Qt::NoTextInteraction);
  return result;
}

QPushButton* button(const std::string& text, const char* role, std::function<void()> action) {
  auto* result = new QPushButton(qs(text));
  result->setObjectName(role);
  result->setCursor(Qt::PointingHandCursor);
  result->setFocusPolicy(Qt::StrongFocus);
  QObject::connect(result, &QPushButton::clicked, std::move(action));
  return result;
}

// One centred row holding `widgets` side by side.
QWidget* centredRow(std::initializer_list<QWidget*> widgets, int spacing = 14) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  layout->addStretch();
  for (QWidget* widget : widgets) layout->addWidget(widget);
  layout->addStretch();
  return row;
}

// The nap key drawn as key caps: "Ctrl", "Alt", "N" (or one cap per symbol where the key has no "+").
QWidget* keyCaps(const std::string& keys) {
  const QString key = QString::fromStdString(keys);
  QStringList caps = key.split('+');
  if (caps.size() == 1) {
    caps.clear();
    for (QChar symbol : key) caps << QString(symbol);
  }
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 6, 0, 6);
  layout->setSpacing(10);
  layout->addStretch();
  for (const QString& cap : caps) {
    auto* label = new QLabel(cap);
    label->setObjectName("keycap");
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(48);
    layout->addWidget(label);
  }
  layout->addStretch();
  return row;
}

}  // namespace

TourWindowWidget::TourWindowWidget(std::shared_ptr<OnboardingView> view, bool translucent)
    : QWidget(nullptr,
              Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      view_(std::move(view)),
      translucent_(translucent) {
  setWindowTitle("Welcome to Tovami");
  setAttribute(Qt::WA_TranslucentBackground, translucent_);
  setAutoFillBackground(false);
  setStyleSheet(kStyle);
  setFocusPolicy(Qt::StrongFocus);
  clock_.start();
  frameTimer_.setInterval(16);
  connect(&frameTimer_, &QTimer::timeout, this, [this] { tick(); });
  catTimer_.setInterval(kCatStepMs);
  connect(&catTimer_, &QTimer::timeout, this, [this] { stepCat(); });
  // Displays come and go: the tour stays on whichever is primary now.
  auto replace = [this] { QTimer::singleShot(0, this, [this] { placeOnPrimaryScreen(); }); };
  connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, replace);
  connect(qGuiApp, &QGuiApplication::screenRemoved, this, replace);
  connect(qGuiApp, &QGuiApplication::screenAdded, this, replace);
  for (QScreen* screen : QGuiApplication::screens())
    connect(screen, &QScreen::geometryChanged, this, replace);
  view_->onChange = [this](TourAnimation animation) { showChange(animation); };
  for (size_t i = 0; i < capsuleWidths_.size(); ++i)
    capsuleWidths_[i] = kOnboardingSteps[i] == view_->step() ? kCapsuleCurrent : kCapsuleOther;
}

TourWindowWidget::~TourWindowWidget() {
  view_->onChange = nullptr;
}

void TourWindowWidget::placeOnPrimaryScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect frame = screen ? screen->geometry() : QRect(0, 0, 1280, 800);
  if (screen && windowHandle()) windowHandle()->setScreen(screen);
  setGeometry(frame);
}

void TourWindowWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  catTimer_.start();
}

void TourWindowWidget::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  catTimer_.stop();
}

// Rebuilds the page for the view's state and animates what is new on it.
void TourWindowWidget::showChange(TourAnimation animation) {
  const OnboardingStep step = view_->step();
  const bool stepChanged = !built_ || step != shownStep_;
  const bool triedNow = view_->model().hotkeyTried() && !shownTried_;
  const bool fallbackNow = view_->model().fallbackAvailable() && !shownFallback_;
  const QString focused =
      focusWidget() ? focusWidget()->objectName() + focusWidget()->accessibleName() : QString();
  built_ = true;
  shownStep_ = step;
  shownTried_ = view_->model().hotkeyTried();
  shownFallback_ = view_->model().fallbackAvailable();
  buildPage();
  const bool moving = animation.kind != TourAnimation::Kind::immediate;
  if (stepChanged) {
    for (size_t i = 0; i < capsuleWidths_.size(); ++i) {
      const double from = capsuleWidths_[i];
      const double to = kOnboardingSteps[i] == step ? kCapsuleCurrent : kCapsuleOther;
      if (!moving) {
        capsuleWidths_[i] = to;
        continue;
      }
      animate(tour_motion::kProgress, 0,
              [this, i, from, to](double p) { capsuleWidths_[i] = from + (to - from) * p; });
    }
    if (moving) {
      // The page rises into place while its parts fade in one after another (slower on the welcome).
      animate(animation, 0, [this](double p) {
        pageRise_ = kPageRise * (1 - p);
        positionPage();
      });
      const bool welcome = step == OnboardingStep::welcome;
      double delay = welcome ? 0.15 : 0;
      for (QWidget* part : page_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        fadeIn(part, welcome ? TourAnimation::easeInOut(0.6) : animation, delay);
        delay += welcome ? 0.25 : 0.05;
      }
    }
    // The step's main button takes the keyboard; without one the window keeps it, so that Return
    // can never land on "Skip the tour" by accident.
    primary_ ? primary_->setFocus() : setFocus();
  } else {
    // Same step: put the keyboard back where it was.
    for (QWidget* widget : page_->findChildren<QWidget*>())
      if (!focused.isEmpty() && widget->objectName() + widget->accessibleName() == focused)
        widget->setFocus();
  }
  if (triedNow) {
    if (primary_) primary_->setFocus();
    if (moving && successRow_) {
      fadeIn(successRow_, animation, 0);
      if (auto* badge = successRow_->findChild<CheckBadge*>()) {
        badge->setScale(0);
        animate(animation, 0, [badge = QPointer<CheckBadge>(badge)](double p) {
          if (badge) badge->setScale(p);
        });
      }
    }
  }
  if (fallbackNow && moving && fallbackButton_) fadeIn(fallbackButton_, animation, 0);
  if (fallbackNow && fallbackButton_ && !primary_) fallbackButton_->setFocus();
  update();
}

void TourWindowWidget::buildPage() {
  if (page_) {
    page_->hide();
    page_->deleteLater();
  }
  primary_ = nullptr;
  successRow_ = nullptr;
  fallbackButton_ = nullptr;
  page_ = new QWidget(this);
  page_->setFixedWidth(kPageWidth);
  auto* layout = new QVBoxLayout(page_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(18);
  switch (view_->step()) {
    case OnboardingStep::welcome:
      addWelcome(*layout);
      break;
    case OnboardingStep::hotkey:
      addHotkey(*layout);
      break;
    case OnboardingStep::wake:
      addWake(*layout);
      break;
    case OnboardingStep::island:
      addIsland(*layout);
      break;
    case OnboardingStep::agents:
      addAgents(*layout);
      break;
    case OnboardingStep::permissions:
      addPermissions(*layout);
      break;
  }
  page_->adjustSize();
  positionPage();
  page_->show();
}

QPushButton* TourWindowWidget::addPrimary(QVBoxLayout& layout, const std::string& text,
                                          std::function<void()> action) {
  layout.addSpacing(10);
  primary_ = button(text, "primary", std::move(action));
  layout.addWidget(centredRow({primary_}));
  return primary_;
}

void TourWindowWidget::addSkip(QVBoxLayout& layout) {
  layout.addWidget(centredRow({button(texts::kSkip, "link", [this] { view_->finish(); })}));
}

void TourWindowWidget::addWelcome(QVBoxLayout& layout) {
  layout.addWidget(label(texts::kWelcomeHeadline, "headline"));
  layout.addWidget(label(texts::kWelcomeText, "body"));
  addPrimary(layout, texts::kShowMe, [this] { view_->advance(); });
  addSkip(layout);
}

void TourWindowWidget::addHotkey(QVBoxLayout& layout) {
  // The keys the desktop bound, which may differ from the usual ones.
  layout.addWidget(label(texts::hotkeyHeadline(view_->napKeys()), "headline"));
  if (view_->model().hotkeyTried()) {
    auto* text = label(texts::kHotkeySuccess, "success");
    text->setWordWrap(false);
    successRow_ = centredRow({new CheckBadge(26), text}, 10);
    layout.addWidget(successRow_);
    addPrimary(layout, texts::kContinue, [this] { view_->advance(); });
  } else {
    layout.addWidget(keyCaps(view_->napKeys()));
    if (const std::string problem = view_->napKeyProblem(); !problem.empty())
      layout.addWidget(label(problem, "body"));
    if (view_->model().fallbackAvailable()) {
      auto* later = button(texts::kTryLater, "plain", [this] { view_->advance(); });
      fallbackButton_ = centredRow({later});
      layout.addWidget(fallbackButton_);
      later->setFocus();
    }
  }
  addSkip(layout);
}

void TourWindowWidget::addWake(QVBoxLayout& layout) {
  layout.addWidget(label(texts::kWakeHeadline, "headline"));
  layout.addSpacing(6);
  const bool auth = view_->wakeRequiresAuth();
  auto* justWake =
      new WakeCard(qs(texts::kJustWakeTitle), qs(texts::kJustWakeCaption), !auth || !view_->canAuth());
  auto* authWake = new WakeCard(qs(texts::kAuthWakeTitle),
                                qs(view_->canAuth()                ? texts::kAuthWakeCaption
                                   : view_->authBlockedBySession() ? texts::kAuthSessionCaption
                                                                   : texts::kAuthUnavailableCaption),
                                auth && view_->canAuth());
  authWake->setEnabled(view_->canAuth());
  connect(justWake, &WakeCard::clicked, this, [this] { view_->selectWake(false); });
  connect(authWake, &WakeCard::clicked, this, [this] { view_->selectWake(true); });
  layout.addWidget(centredRow({justWake, authWake}, 18));
  addPrimary(layout, texts::kContinue, [this] { view_->advance(); });
  addSkip(layout);
}

void TourWindowWidget::addIsland(QVBoxLayout& layout) {
  const bool notch = view_->notchVariant();
  layout.addWidget(label(notch ? texts::kNotchHeadline : texts::kFloatingHeadline, "headline"));
  if (notch) layout.addWidget(label(texts::kNotchText, "body"));
  const std::string& text = notch ? texts::kNotchSwitch : texts::kFloatingSwitch;
  auto* toggle = new TourSwitch(qs(text), view_->islandSwitch());
  connect(toggle, &TourSwitch::toggled, this, [this](bool on) { view_->setIslandSwitch(on); });
  auto* caption = label(text, "switchLabel");
  caption->setWordWrap(false);
  caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  layout.addSpacing(6);
  layout.addWidget(centredRow({toggle, caption}, 12));
  addPrimary(layout, texts::kContinue, [this] { view_->advance(); });
  addSkip(layout);
}

void TourWindowWidget::addAgents(QVBoxLayout& layout) {
  layout.addWidget(label(texts::kAgentsHeadline, "headline"));
  layout.addWidget(label(texts::kAgentsText, "body"));
  layout.addWidget(label(texts::kAgentsNote, "note"));
  addPrimary(layout, texts::kContinue, [this] { view_->advance(); });
}

void TourWindowWidget::addPermissions(QVBoxLayout& layout) {
  layout.addWidget(label(texts::kPermissionsHeadline, "headline"));
  layout.addWidget(label(texts::kPermissionsText, "body"));
  layout.addSpacing(4);
  auto addRow = [&layout](const std::string& title, const std::string& caption, QWidget* trailing) {
    auto* row = new QFrame;
    row->setObjectName("row");
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(22, 14, 18, 14);
    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    auto* titleLabel = label(title, "rowTitle");
    auto* captionLabel = label(caption, "rowCaption");
    titleLabel->setAlignment(Qt::AlignLeft);
    captionLabel->setAlignment(Qt::AlignLeft);
    words->addWidget(titleLabel);
    words->addWidget(captionLabel);
    rowLayout->addLayout(words, 1);
    rowLayout->addWidget(trailing, 0, Qt::AlignVCenter);
    layout.addWidget(row);
  };
  const bool trusted = view_->axTrusted();
  QWidget* jumpsControl = trusted ? static_cast<QWidget*>(new CheckBadge(24))
                                  : button(texts::kGrant, "plain", [this] { view_->grantAccessibility(); });
  std::string jumpsCaption = trusted ? texts::kJumpsTrusted : texts::kJumpsNeedTrust;
  if (!trusted && !view_->accessibilityHelp().empty()) jumpsCaption += " " + view_->accessibilityHelp();
  addRow(texts::kJumpsTitle, jumpsCaption, jumpsControl);
  auto* approvals = new TourSwitch(qs(texts::kApprovalsTitle), view_->notchApprovals());
  connect(approvals, &TourSwitch::toggled, this, [this](bool on) { view_->setNotchApprovals(on); });
  addRow(texts::kApprovalsTitle, texts::kApprovalsCaption, approvals);
  auto* usage = new TourSwitch(qs(texts::kUsageTitle), view_->usageTracking());
  connect(usage, &TourSwitch::toggled, this, [this](bool on) { view_->setUsageTracking(on); });
  addRow(texts::kUsageTitle, texts::kUsageCaption, usage);
  addPrimary(layout, texts::kStartLounging, [this] { view_->finish(); });
}

void TourWindowWidget::positionPage() {
  if (!page_) return;
  // Wrapped labels know their height only for a given width: ask for the page's.
  const int pageHeight =
      page_->hasHeightForWidth() ? page_->heightForWidth(kPageWidth) : page_->sizeHint().height();
  page_->resize(kPageWidth, pageHeight);
  const int x = (width() - kPageWidth) / 2;
  const int y = (height() - pageHeight) / 2 - 30 + static_cast<int>(std::lround(pageRise_));
  page_->move(x, std::max(static_cast<int>(kCapsuleTop + 30), y));
}

void TourWindowWidget::animate(TourAnimation animation, double delay, std::function<void(double)> apply) {
  if (animation.kind == TourAnimation::Kind::immediate) return apply(1);
  apply(0);
  motions_.push_back({animation, now() + delay, std::move(apply)});
  if (!frameTimer_.isActive()) frameTimer_.start();
}

void TourWindowWidget::fadeIn(QWidget* widget, TourAnimation animation, double delay) {
  auto* effect = new QGraphicsOpacityEffect(widget);
  widget->setGraphicsEffect(effect);
  animate(animation, delay,
          [effect = QPointer<QGraphicsOpacityEffect>(effect), widget = QPointer<QWidget>(widget)](double p) {
            if (!effect || !widget) return;
            effect->setOpacity(std::clamp(p, 0.0, 1.0));
            if (p >= 1) widget->setGraphicsEffect(nullptr);  // settled: paint without the effect
          });
}

void TourWindowWidget::tick() {
  const double t = now();
  std::vector<Motion> running;
  for (Motion& motion : motions_) {
    const double elapsed = t - motion.start;
    if (elapsed < 0) {
      running.push_back(std::move(motion));
      continue;
    }
    const bool done = elapsed >= settleTime(motion.animation);
    motion.apply(done ? 1 : animationProgress(motion.animation, elapsed));
    if (!done) running.push_back(std::move(motion));
  }
  motions_ = std::move(running);
  if (motions_.empty()) frameTimer_.stop();
  update(QRect(0, 0, width(), static_cast<int>(kCapsuleTop + 20)));
}

void TourWindowWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  positionPage();
}

QRect TourWindowWidget::catArea() const {
  return QRect(0, height() - 160, width(), 160);
}

void TourWindowWidget::stepCat() {
  if (view_->reduceMotion()) return update(catArea());  // the cat sits still
  const double catWidth = PixelGrid{PixelCatScene::walkA(), {}, kCatDot, kCatGap}.size().width;
  catX_ += kCatStride;
  if (catX_ > width()) catX_ = -catWidth;
  catAltFrame_ = !catAltFrame_;
  update(catArea());
}

void TourWindowWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRegion(event->region());
  // Backdrop: the dark of the nap, letting the desktop show through faintly when it can.
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(rect(), qcolor(palette::kNearBlack, translucent_ ? kBackdropOpacity : 1));
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setRenderHint(QPainter::Antialiasing);

  // Progress capsules, one per step.
  double total = kCapsuleSpacing * (capsuleWidths_.size() - 1);
  for (double w : capsuleWidths_) total += w;
  double x = (width() - total) / 2;
  painter.setPen(Qt::NoPen);
  for (size_t i = 0; i < capsuleWidths_.size(); ++i) {
    const bool current = kOnboardingSteps[i] == view_->step();
    painter.setBrush(current ? qcolor(palette::kTerracotta) : qcolor(palette::kTaupe, 0.35));
    painter.drawRoundedRect(QRectF(x, kCapsuleTop, capsuleWidths_[i], kCapsuleHeight), kCapsuleHeight / 2,
                            kCapsuleHeight / 2);
    x += capsuleWidths_[i] + kCapsuleSpacing;
  }

  // The cat: strolling along the bottom, or sitting still when motion is reduced.
  const bool still = view_->reduceMotion();
  const PixelRows& rows =
      still ? PixelCatScene::sit() : (catAltFrame_ ? PixelCatScene::walkA() : PixelCatScene::walkB());
  const PixelGrid cat{rows, palette::kCream, kCatDot, kCatGap};
  const double catX = still ? width() * 0.12 : catX_;
  const double catY = height() - kCatBottom - cat.size().height;
  painter.setRenderHint(QPainter::Antialiasing, false);
  QtCanvas canvas(painter);
  cat.draw(canvas, {catX, catY});
  painter.fillRect(QRectF(0, height() - kCatBottom + 2, width(), 1), qcolor(palette::kTaupe, 0.18));
}

void TourWindowWidget::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      view_->windowWillClose();
      close();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (QWidget* focused = focusWidget(); auto* focusedButton = qobject_cast<QAbstractButton*>(focused)) {
        focusedButton->click();
      } else if (primary_) {
        primary_->click();
      }
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

// The window manager's close button counts as finishing the tour; the program closing its windows
// on the way out does not (the tour shows again at the next launch).
void TourWindowWidget::closeEvent(QCloseEvent* event) {
  if (event->spontaneous()) view_->windowWillClose();
  event->accept();
}

}  // namespace tovami::linux_backend
