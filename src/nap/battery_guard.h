// The battery guard: the agent watcher drops its keep-awake while the machine runs on battery
// with 15 % charge or less (preference "batteryGuard").
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tovami {

struct BatteryReading {
  int percent = 0;
  bool onBattery = false;
  bool operator==(const BatteryReading&) const = default;
};

class BatteryReader {
 public:
  virtual ~BatteryReader() = default;
  // A fresh reading on every call (nothing cached), or nothing without a usable battery.
  // Callable from any thread.
  virtual std::optional<BatteryReading> batteryReading() const = 0;
};

// current / maximum as a percentage, rounded to the nearest integer with halves away from zero.
int batteryPercent(int64_t current, int64_t maximum);

// The guard holds when the preference is on and the reading says "on battery, below 16 %".
// With the preference off the battery is not read at all.
bool batteryGuardHolds(bool guardPreference, const BatteryReader& reader);

// Reads the kernel's power-supply class (normally /sys/class/power_supply): the first battery,
// in name order, with usable capacities (energy_now/energy_full, else charge_now/charge_full,
// else capacity out of 100); peripheral batteries (scope "Device") are not the machine's.
// On battery: no adapter reports online, and the battery says "Discharging" (or every adapter
// reports offline). Unreadable or malformed files count as absent.
class PowerSupplyBatteryReader final : public BatteryReader {
 public:
  explicit PowerSupplyBatteryReader(std::filesystem::path root = "/sys/class/power_supply");
  std::optional<BatteryReading> batteryReading() const override;

 private:
  std::filesystem::path root_;
};

}  // namespace tovami
