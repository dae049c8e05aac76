#include "remote/remote_host_states.h"

#include <algorithm>

namespace tovami::remote {

std::vector<std::string> hostList(std::string_view text) {
  std::vector<std::string> hosts;
  size_t start = 0;
  while (start <= text.size()) {
    const auto end = std::min(text.find_first_of(",\n", start), text.size());
    const std::string_view part = text.substr(start, end - start);
    const auto first = part.find_first_not_of(" \t\r");
    if (first != std::string_view::npos) {
      std::string host(part.substr(first, part.find_last_not_of(" \t\r") - first + 1));
      if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(std::move(host));
    }
    start = end + 1;
  }
  return hosts;
}

std::string hostListText(const std::vector<std::string>& hosts) {
  std::string text;
  for (const auto& host : hosts) text += (text.empty() ? "" : ",") + host;
  return text;
}

std::vector<std::string> withHost(std::vector<std::string> hosts, const std::string& host, bool on) {
  std::erase(hosts, host);
  if (on) hosts.push_back(host);
  return hosts;
}

void HostStates::set(const std::string& host, const std::string& text) {
  auto& held = texts_[host];
  if (held == text) return;
  held = text;
  notify();
}

void HostStates::erase(const std::string& host) {
  if (texts_.erase(host)) notify();
}

std::string HostStates::textOf(const std::string& host) const {
  const auto it = texts_.find(host);
  return it == texts_.end() ? std::string() : it->second;
}

int HostStates::addObserver(Observer observer) {
  observers_[nextToken_] = std::move(observer);
  return nextToken_++;
}

void HostStates::removeObserver(int token) {
  observers_.erase(token);
}

void HostStates::notify() {
  for (auto& [token, observer] : std::map<int, Observer>(observers_)) observer();
}

HostStates& hostStates() {
  static HostStates states;
  return states;
}

}  // namespace tovami::remote
