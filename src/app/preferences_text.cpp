#include "app/preferences_text.h"

#include <utf8proc.h>

#include <optional>

namespace tovami {
namespace {

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Valid UTF-8 without control characters other than tab (a NUL or a UTF-16 byte fails here).
bool isPlainText(std::string_view line) {
  for (size_t i = 0; i < line.size();) {
    utf8proc_int32_t c = 0;
    const auto used = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(line.data() + i),
                                       static_cast<utf8proc_ssize_t>(line.size() - i), &c);
    if (used <= 0 || (c != '\t' && utf8proc_category(c) == UTF8PROC_CATEGORY_CC) || c == 0xFEFF) return false;
    i += size_t(used);
  }
  return true;
}

bool isHeader(std::string_view t) {
  return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}
bool isComment(std::string_view t) {
  return !t.empty() && (t.front() == ';' || t.front() == '#');
}
bool isGeneralHeader(std::string_view t) {
  return t == "[General]";
}

}  // namespace

PreferencesText::PreferencesText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);  // an editor's byte-order mark
  bool general = true;
  while (!bytes.empty()) {
    const auto end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto t = trim(line);
    const auto equals = t.find('=');
    const bool entry = !t.empty() && !isHeader(t) && !isComment(t) && equals != std::string_view::npos &&
                       !trim(t.substr(0, equals)).empty();
    if (!isPlainText(line) || !(t.empty() || isHeader(t) || isComment(t) || entry)) {
      ++damaged_;
      continue;
    }
    if (isHeader(t)) general = isGeneralHeader(t);
    if (entry && general) values_[std::string(trim(t.substr(0, equals)))] = trim(t.substr(equals + 1));
    lines_.emplace_back(line);
  }
}

void PreferencesText::set(std::string_view key, std::string_view value) {
  std::string clean(value);
  for (char& c : clean)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  std::string& stored = values_[std::string(key)];
  stored = trim(clean);
  const std::string line = std::string(key) + "=" + stored;
  // Replace the key's last line in the general section, else add one at that section's end.
  std::optional<size_t> found, generalEnd;
  bool general = true, anyHeader = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto t = trim(lines_[i]);
    if (isHeader(t)) {
      anyHeader = true;
      general = isGeneralHeader(t);
      if (general) generalEnd = i;
      continue;
    }
    if (!general) continue;
    if (!t.empty() && generalEnd) generalEnd = i;
    const auto equals = t.find('=');
    if (!isComment(t) && equals != std::string_view::npos && trim(t.substr(0, equals)) == key) found = i;
  }
  if (found) {
    lines_[*found] = line;
  } else if (generalEnd) {
    lines_.insert(lines_.begin() + std::ptrdiff_t(*generalEnd) + 1, line);
  } else {
    if (anyHeader || lines_.empty()) lines_.emplace_back("[General]");
    lines_.push_back(line);
  }
}

std::string PreferencesText::render() const {
  std::string text;
  for (const auto& line : lines_) text += line + "\n";
  return text;
}

}  // namespace tovami
