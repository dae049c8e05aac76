// A canvas that remembers the texts drawn, and a random source that plays back fixed values.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "agents/user_text.h"
#include "platform/canvas.h"
#include "platform/random.h"

namespace tovami::testing {

class RecordingCanvas final : public Canvas {
 public:
  void save() override {}
  void restore() override {}
  void translate(double, double) override {}
  void mirrorHorizontally(double) override {}
  void scale(double) override {}
  void setOpacity(double) override {}
  void clipToPath(const VectorPath&) override {}
  void fillRect(const Rect&, Color) override {}
  void fillRoundedRect(const Rect&, double, Color) override {}
  void fillEllipse(const Rect&, Color) override {}
  void fillPath(const VectorPath&, Color) override {}
  void strokeRoundedRect(const Rect&, double, double, Color) override {}
  void fillShadow(const VectorPath&, Color, double, Point) override {}
  void drawSymbol(std::string_view, const Rect&, Color) override {}
  void drawText(std::string_view text, Point topLeft, const FontStyle& font, Color color) override {
    runs.push_back({std::string(text), topLeft, font, color});
  }
  Size measureText(std::string_view text, const FontStyle& font) const override {
    return {static_cast<double>(text.size()) * font.pointSize * 0.6, font.pointSize * 1.2};
  }
  std::string elideText(std::string_view text, const FontStyle& font, double maxWidth) const override {
    if (measureText(text, font).width <= maxWidth) return std::string(text);
    // Every character is at least one byte wide, which bounds where the search starts.
    const auto fits = static_cast<size_t>(std::max(0.0, maxWidth / (font.pointSize * 0.6)));
    for (size_t n = std::min(user_text::characterCount(text), fits + 1); n-- > 0;) {
      std::string cut = std::string(user_text::prefixCharacters(text, n)) + "\u2026";
      if (measureText(cut, font).width <= maxWidth) return cut;
    }
    return "";
  }

  struct TextRun {
    std::string text;
    Point topLeft;
    FontStyle font;
    Color color;
  };
  // The first run whose text starts with `prefix`, or nullptr.
  const TextRun* run(std::string_view prefix) const {
    for (const auto& r : runs)
      if (r.text.starts_with(prefix)) return &r;
    return nullptr;
  }

  std::vector<TextRun> runs;
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
