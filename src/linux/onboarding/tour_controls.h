// The tour's own small controls: a pill switch, the filled check-mark circle and the wake card.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

namespace tovami::linux_backend {

class TourSwitch final : public QAbstractButton {
 public:
  TourSwitch(const QString& accessibleName, bool on, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {44, 26}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CheckBadge final : public QWidget {
 public:
  explicit CheckBadge(int diameter, QWidget* parent = nullptr);
  // 0 to 1 (a spring may pass 1): how far the badge has grown in.
  void setScale(double scale);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double scale_ = 1;
};

// A selectable card with a title and a caption; a disabled card shows why.
class WakeCard final : public QAbstractButton {
 public:
  WakeCard(const QString& title, const QString& caption, bool selected, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {300, 112}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void restyle();
  QLabel* title_;
  QLabel* caption_;
};

}  // namespace tovami::linux_backend
