// An in-memory preference store for tests; observers run synchronously.
#pragma once

#include <map>
#include <string>
#include <variant>

#include "platform/preferences_store.h"

namespace tovami::testing {

class MemoryPreferences final : public PreferenceStore {
 public:
  using Value = std::variant<bool, std::string>;
  std::map<std::string, Value, std::less<>> values;
  std::vector<std::string> writes;  // keys in the order they were written

  bool hasValue(std::string_view key) const override { return values.find(key) != values.end(); }
  bool boolValue(std::string_view key) const override {
    auto it = values.find(key);
    return it != values.end() && std::holds_alternative<bool>(it->second) && std::get<bool>(it->second);
  }
  std::optional<std::string> stringValue(std::string_view key) const override {
    auto it = values.find(key);
    if (it == values.end() || !std::holds_alternative<std::string>(it->second)) return std::nullopt;
    return std::get<std::string>(it->second);
  }
  void setBool(std::string_view key, bool value) override { set(key, value); }
  void setString(std::string_view key, std::string_view value) override { set(key, std::string(value)); }
  int addObserver(Observer observer) override {
    observers_[next_] = std::move(observer);
    return next_++;
  }
  void removeObserver(int token) override { observers_.erase(token); }

 private:
  void set(std::string_view key, Value value) {
    values[std::string(key)] = std::move(value);
    writes.emplace_back(key);
    for (auto& [token, observer] : std::map<int, Observer>(observers_)) observer(key);
  }
  std::map<int, Observer> observers_;
  int next_ = 1;
};

}  // namespace tovami::testing
