// A canvas that remembers what was drawn, and a random source that plays back fixed values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/random.h"

namespace tovami::testing {

class RecordingCanvas final : public Canvas {
 public:
  struct Fill {
    std::string kind;
    Rect rect;
    Color color;
  };

  void save() override {}
  void restore() override {}
  void translate(double, double) override {}
  void mirrorHorizontally(double) override {}
  void fillRect(const Rect& rect, Color color) override { fills.push_back({"rect", rect, color}); }
  void fillRoundedRect(const Rect& rect, double, Color color) override {
    fills.push_back({"rounded", rect, color});
  }
  void fillEllipse(const Rect& rect, Color color) override { fills.push_back({"ellipse", rect, color}); }
  void fillPath(const VectorPath&, Color color) override { fills.push_back({"path", {}, color}); }
  void drawText(std::string_view text, Point topLeft, const FontStyle& font, Color color) override {
    texts.push_back(std::string(text));
    fills.push_back({"text", {topLeft.x, topLeft.y, measureText(text, font).width, 13}, color});
  }
  Size measureText(std::string_view text, const FontStyle& font) const override {
    return {static_cast<double>(text.size()) * font.pointSize * 0.6, font.pointSize * 1.2};
  }

  std::vector<Fill> fills;
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
