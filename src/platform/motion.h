// The desktop's "reduce motion" wish: when it is on, figures stay still and nothing fades.
#pragma once

namespace tovami {

class MotionSettings {
 public:
  virtual ~MotionSettings() = default;
  // Read at the moment of use; false (motion on) when the desktop says nothing.
  virtual bool reduceMotion() const = 0;
};

class FixedMotionSettings final : public MotionSettings {
 public:
  explicit FixedMotionSettings(bool reduce) : reduce_(reduce) {}
  bool reduceMotion() const override { return reduce_; }

 private:
  bool reduce_;
};

}  // namespace tovami
