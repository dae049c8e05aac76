// The flat key-value store that holds every user choice. Reads go to the store each time;
// nothing in the logic caches a value.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tovami {

class PreferenceStore {
 public:
  virtual ~PreferenceStore() = default;
  // True when the key has any stored value.
  virtual bool hasValue(std::string_view key) const = 0;
  // False when absent or not a boolean.
  virtual bool boolValue(std::string_view key) const = 0;
  // Absent when never stored or not a string.
  virtual std::optional<std::string> stringValue(std::string_view key) const = 0;
  virtual void setBool(std::string_view key, bool value) = 0;
  virtual void setString(std::string_view key, std::string_view value) = 0;

  // Observers run on the main queue after a write through this store (views refresh).
  using Observer = std::function<void(std::string_view key)>;
  virtual int addObserver(Observer observer) = 0;
  virtual void removeObserver(int token) = 0;
};

}  // namespace tovami
