// A canvas that remembers the colours and texts drawn, and a random source that plays back fixed values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/random.h"

namespace tovami::testing {

class RecordingCanvas final : public Canvas {
 public:
  void save() override {}
  void restore() override {}
  void translate(double, double) override {}
  void mirrorHorizontally(double) override {}
  void fillRect(const Rect&, Color color) override { fills.push_back(color); }
  void fillRoundedRect(const Rect&, double, Color color) override { fills.push_back(color); }
  void fillEllipse(const Rect&, Color color) override { fills.push_back(color); }
  void fillPath(const VectorPath&, Color color) override { fills.push_back(color); }
  void drawText(std::string_view text, Point, const FontStyle&, Color color) override {
    texts.push_back(std::string(text));
    fills.push_back(color);
  }
  Size measureText(std::string_view text, const FontStyle& font) const override {
    return {static_cast<double>(text.size()) * font.pointSize * 0.6, font.pointSize * 1.2};
  }

  std::vector<Color> fills;
  std::vector<std::string> texts;
};

// Plays back the given 64-bit values in a loop.
class ScriptedRandom final : public RandomSource {
 public:
  explicit ScriptedRandom(std::vector<uint64_t> values) : values_(std::move(values)) {}
  uint64_t next64() override {
    ++draws;
    const uint64_t value = values_[index_];
    index_ = (index_ + 1) % values_.size();
    return value;
  }
  int draws = 0;

 private:
  std::vector<uint64_t> values_;
  size_t index_ = 0;
};

}  // namespace tovami::testing
