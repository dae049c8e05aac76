// What Settings shows of the links to other machines, and how it edits their preferences. The
// backend's links publish each host's state here; the "Other machines" page reads it. Main thread.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tovami::remote {

// "a, b ,c" or one host a line → {"a", "b", "c"}: blanks dropped, each host once, in order.
std::vector<std::string> hostList(std::string_view text);
// The preference's text: the hosts separated by commas.
std::string hostListText(const std::vector<std::string>& hosts);
// `hosts` with `host` added (at the end) or removed.
std::vector<std::string> withHost(std::vector<std::string> hosts, const std::string& host, bool on);

class HostStates {
 public:
  using Observer = std::function<void()>;

  void set(const std::string& host, const std::string& text);
  void erase(const std::string& host);
  // Empty for a host without a link.
  std::string textOf(const std::string& host) const;

  int addObserver(Observer observer);
  void removeObserver(int token);

  // Set by the backend while its links run: every waiting link tries again at once.
  std::function<void()> connectNow;

 private:
  void notify();
  std::map<std::string, std::string> texts_;
  std::map<int, Observer> observers_;
  int nextToken_ = 1;
};

// The program's one table.
HostStates& hostStates();

}  // namespace tovami::remote
