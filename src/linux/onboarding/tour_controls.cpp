#include "linux/onboarding/tour_controls.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "pixel_art/palette.h"

namespace tovami::linux_backend {
namespace {

QColor qcolor(const Color& color, double alpha = 1) {
  return QColor(color.red, color.green, color.blue, static_cast<int>(alpha * 255));
}

void paintFocus(QPainter& painter, const QRectF& rect, double radius) {
  painter.setPen(QPen(qcolor(palette::kCream, 0.8), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
}

}  // namespace

TourSwitch::TourSwitch(const QString& accessibleName, bool on, QWidget* parent) : QAbstractButton(parent) {
  setCheckable(true);
  setChecked(on);
  setAccessibleName(accessibleName);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setFixedSize(sizeHint());
}

void TourSwitch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF track = QRectF(rect()).adjusted(2, 2, -2, -2);
  painter.setPen(Qt::NoPen);
  painter.setBrush(isChecked() ? qcolor(palette::kTerracotta) : qcolor(palette::kTaupe, 0.35));
  painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
  const double knob = track.height() - 4;
  const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
  painter.setBrush(qcolor(palette::kOffWhite));
  painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
  if (hasFocus()) paintFocus(painter, rect(), height() / 2.0);
}

CheckBadge::CheckBadge(int diameter, QWidget* parent) : QWidget(parent) {
  setFixedSize(diameter, diameter);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CheckBadge::setScale(double scale) {
  scale_ = scale;
  update();
}

void CheckBadge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(width() / 2.0, height() / 2.0);
  painter.scale(scale_, scale_);
  const double r = width() / 2.0 - 1;
  painter.setPen(Qt::NoPen);
  painter.setBrush(qcolor(palette::kUsageGreen));
  painter.drawEllipse(QPointF(0, 0), r, r);
  QPainterPath tick;
  tick.moveTo(-r * 0.45, 0);
  tick.lineTo(-r * 0.1, r * 0.35);
  tick.lineTo(r * 0.5, -r * 0.35);
  painter.setPen(
      QPen(qcolor(palette::kNearBlack), std::max(2.0, r * 0.22), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(tick);
}

WakeCard::WakeCard(const QString& title, const QString& caption, bool selected, QWidget* parent)
    : QAbstractButton(parent), title_(new QLabel(title, this)), caption_(new QLabel(caption, this)) {
  setCheckable(true);
  setChecked(selected);
  setAccessibleName(title);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(sizeHint());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(22, 18, 22, 18);
  layout->setSpacing(6);
  layout->addWidget(title_);
  layout->addWidget(caption_);
  layout->addStretch();
  caption_->setWordWrap(true);
  for (QLabel* label : {title_, caption_}) label->setAttribute(Qt::WA_TransparentForMouseEvents);
  restyle();
}

void WakeCard::changeEvent(QEvent* event) {
  QAbstractButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) restyle();
}

void WakeCard::restyle() {
  const QString title = isEnabled() ? "#FAF9F5" : "#6E655C";
  const QString caption = isEnabled() ? "#A99E90" : "#6E655C";
  title_->setStyleSheet("color: " + title + "; font-size: 19px; font-weight: 600;");
  caption_->setStyleSheet("color: " + caption + "; font-size: 14px;");
}

void WakeCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF card = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  painter.setBrush(qcolor(palette::kSecondDarkBrown, isEnabled() ? 1 : 0.5));
  const bool selected = isChecked() && isEnabled();
  painter.setPen(
      QPen(selected ? qcolor(palette::kTerracotta) : qcolor(palette::kDarkBrown), selected ? 3 : 1.5));
  painter.drawRoundedRect(card, 14, 14);
  if (hasFocus() && !selected) paintFocus(painter, rect(), 14);
}

}  // namespace tovami::linux_backend
