// The preferences reader: any bytes as the preferences file, opened by the Linux store and read
// through every key the application knows, as it reads them at start-up.
#include <QString>
#include <QtGlobal>
#include <filesystem>
#include <fstream>
#include <string>

#include "agents/process_sampling.h"
#include "app/preference_keys.h"
#include "app/preferences_text.h"
#include "fuzz_support.h"
#include "linux/app/settings_store.h"

using namespace tovami;
namespace fs = std::filesystem;

namespace {

// The store only posts to its queue when a value changes; the fuzzer never writes one.
class NoQueue final : public TaskQueue {
 public:
  std::string_view label() const override { return "fuzz"; }
  void async(Task) override {}
  WorkItem asyncAfter(Seconds, Task) override { return WorkItem::make(); }
  WorkItem repeating(Seconds, Task) override { return WorkItem::make(); }
};

const fs::path& scratch() {
  static const fs::path folder = [] {
    std::string pattern = fs::temp_directory_path().string() + "/tovami-fuzz-prefs.XXXXXX";
    fuzz::require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    std::atexit([] { fs::remove_all(scratch()); });
    return fs::path(pattern);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::silenceLogs();
  // The text itself: what a read keeps reads back the same, with nothing damaged.
  const PreferencesText text(fuzz::asText(data, size));
  const PreferencesText again(text.render());
  fuzz::require(again.damagedLines() == 0 && again.values() == text.values(),
                "a rendered file reads back the same");

  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  // A new name each time, so no input sees what an earlier one left behind.
  static unsigned counter = 0;
  const fs::path path = scratch() / ("tovami" + std::to_string(counter++) + ".conf");
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  {
    NoQueue queue;
    linux_backend::SettingsStore store(QString::fromStdString(path.string()), queue);
    for (const std::string_view key : prefs::kAllKeys) {
      store.hasValue(key);
      store.boolValue(key);
      if (const auto text = store.stringValue(key))
        fuzz::require(isValidUtf8(*text), "a stored text is UTF-8");
    }
    wakeRequiresAuthentication(store);
  }
  fs::remove(path);
  fs::remove(path.string() + ".malformed");
  return 0;
}
