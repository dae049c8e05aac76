// The welcome tour's window: a frameless window over the whole primary display with a dark
// backdrop (translucent where a compositor runs), the progress capsules, the current step's
// page and a pixel cat walking along the bottom. It draws an OnboardingView and forwards the
// user's clicks and keys to it.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "onboarding/onboarding_view.h"

class QVBoxLayout;

namespace tovami::linux_backend {

class TourWindowWidget final : public QWidget {
 public:
  // `translucent`: a compositor runs, so the backdrop may let the desktop show through.
  TourWindowWidget(std::shared_ptr<OnboardingView> view, bool translucent);
  ~TourWindowWidget() override;

  OnboardingView& view() { return *view_; }
  // Covers the primary display (again, after the displays changed).
  void placeOnPrimaryScreen();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // A property driven from 0 to 1 by an animation that starts `delay` seconds from now.
  struct Motion {
    TourAnimation animation;
    double start = 0;
    std::function<void(double)> apply;
  };

  void showChange(TourAnimation animation);
  void buildPage();
  void addWelcome(QVBoxLayout& layout);
  void addHotkey(QVBoxLayout& layout);
  void addWake(QVBoxLayout& layout);
  void addIsland(QVBoxLayout& layout);
  void addAgents(QVBoxLayout& layout);
  void addPermissions(QVBoxLayout& layout);
  QPushButton* addPrimary(QVBoxLayout& layout, const std::string& text, std::function<void()> action);
  void addSkip(QVBoxLayout& layout);
  void positionPage();
  void animate(TourAnimation animation, double delay, std::function<void(double)> apply);
  void fadeIn(QWidget* widget, TourAnimation animation, double delay);
  void tick();
  double now() const { return clock_.elapsed() / 1000.0; }
  QRect catArea() const;
  void stepCat();

  std::shared_ptr<OnboardingView> view_;
  bool translucent_;
  QPointer<QWidget> page_;
  QPointer<QPushButton> primary_;
  QWidget* successRow_ = nullptr;
  QWidget* fallbackButton_ = nullptr;
  double pageRise_ = 0;

  OnboardingStep shownStep_ = OnboardingStep::welcome;
  bool shownTried_ = false;
  bool shownFallback_ = false;
  bool built_ = false;

  std::array<double, 6> capsuleWidths_{};
  std::vector<Motion> motions_;
  QElapsedTimer clock_;
  QTimer frameTimer_;

  QTimer catTimer_;
  double catX_ = 0;
  bool catAltFrame_ = false;
};

}  // namespace tovami::linux_backend
