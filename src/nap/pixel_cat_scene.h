// The nap's little scene: a pixel cat that sleeps, wakes, looks around and strolls, two
// distant sleeping cats and the twinkling dots behind them, in a 640 x 190 box.
#pragma once

#include <functional>
#include <memory>

#include "nap/dot_constellation.h"
#include "pixel_art/pixel_grid.h"
#include "platform/delayed_work.h"
#include "platform/random.h"
#include "platform/scheduler.h"

namespace tovami {

class PixelCatScene {
 public:
  enum class Pose { sleep, sit, walk };

  static constexpr Size kSize{640, 190};
  static constexpr double kCatDot = 5.0;
  static constexpr double kCatGap = 1.6;
  static constexpr double kCatBottomInset = 30;
  static constexpr double kGroupSpacing = 8;
  static constexpr double kMarkSpacing = 7;
  static constexpr double kMarkIndent = 10;
  static constexpr double kStepBob = 3;
  static constexpr double kStride = 9;
  static constexpr double kTurnDistance = 168;

  static constexpr Seconds kBreath = 0.9;
  static constexpr Seconds kWakeLook = 1.4;
  static constexpr Seconds kLookBack = 0.9;
  static constexpr Seconds kStep = 0.15;
  static constexpr Seconds kRest = 1.1;

  // `invalidate` is called with the area to redraw, relative to the scene's origin.
  PixelCatScene(Dispatcher& dispatcher, std::shared_ptr<RandomSource> random, bool reduceMotion,
                std::function<void(Rect)> invalidate);
  ~PixelCatScene();
  PixelCatScene(const PixelCatScene&) = delete;
  PixelCatScene& operator=(const PixelCatScene&) = delete;

  // Starts the pose cycle and the twinkle; disappear() ends both for good.
  void appear();
  void disappear();

  Pose pose() const { return pose_; }
  bool altFrame() const { return altFrame_; }
  int zCount() const { return zCount_; }
  double offsetX() const { return offsetX_; }
  bool facingRight() const { return facingRight_; }
  bool reduceMotion() const { return reduceMotion_; }

  const PixelRows& catRows() const;
  // Where things are, relative to the scene's origin.
  Rect catRect() const;
  Rect markRect(int index) const;
  bool markVisible(int index) const { return 2 - index < zCount_; }
  static Rect leftDistantCatRect();
  static Rect rightDistantCatRect();

  void draw(Canvas& canvas, Point origin) const;

  // The frames, top row first.
  static const PixelRows& sleepA();
  static const PixelRows& sleepB();
  static const PixelRows& sit();
  static const PixelRows& walkA();
  static const PixelRows& walkB();

 private:
  void fallAsleep();
  void breathe();
  void wake();
  void lookBack();
  void stroll();
  void step();
  void rest();
  void after(Seconds delay, void (PixelCatScene::*next)());
  // The area of the cat and its marks now.
  Rect groupRect() const;
  void changed();

  Dispatcher& dispatcher_;
  std::shared_ptr<RandomSource> random_;
  const bool reduceMotion_;
  std::function<void(Rect)> invalidate_;
  DotConstellationView constellation_;

  Pose pose_ = Pose::sleep;
  bool altFrame_ = false;
  int zCount_ = 0;
  double offsetX_ = 0;
  bool facingRight_ = true;

  int ticksLeft_ = 0;
  int tick_ = 0;
  Rect drawnGroup_;
  DelayedWork poseWork_;
};

}  // namespace tovami
