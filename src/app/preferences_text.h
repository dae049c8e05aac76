// The text of the preferences file: plain UTF-8 `key=value` lines, with `;` or `#` comments and
// `[section]` headers. Read strictly (a damaged line is reported, never guessed at) and edited in
// place, so that comments, unknown keys and other sections survive a write.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tovami {

class PreferencesText {
 public:
  // Parses `bytes`. Lines that are not plain text (invalid UTF-8, NUL or other control
  // characters) or not a comment, header or `key=value` are dropped and counted as damaged.
  explicit PreferencesText(std::string_view bytes = {});

  // Lines that were dropped because they could not be read; non-zero means the file was malformed.
  size_t damagedLines() const { return damaged_; }
  // The values of the top-level (or "[General]") section; the last of repeated keys wins.
  const std::map<std::string, std::string, std::less<>>& values() const { return values_; }
  // Stores `value` (control characters become spaces), replacing the key's line or adding one.
  void set(std::string_view key, std::string_view value);
  // The file's text, as read apart from the dropped lines and the edits.
  std::string render() const;

 private:
  std::vector<std::string> lines_;
  std::map<std::string, std::string, std::less<>> values_;
  size_t damaged_ = 0;
};

}  // namespace tovami
