#include "nap/battery_guard.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace tovami {
namespace {

// Attribute files hold one short line; never read more than this.
constexpr std::streamsize kMaxAttributeBytes = 256;

std::optional<std::string> readAttribute(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxAttributeBytes, '\0');
  in.read(text.data(), kMaxAttributeBytes);
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<size_t>(in.gcount()));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

std::optional<int64_t> readInteger(const std::filesystem::path& file) {
  const auto text = readAttribute(file);
  if (!text || text->empty()) return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

struct Capacities {
  int64_t current;
  int64_t maximum;
};

std::optional<Capacities> usableCapacities(const std::filesystem::path& supply) {
  const std::pair<const char*, const char*> pairs[] = {{"energy_now", "energy_full"},
                                                       {"charge_now", "charge_full"}};
  for (const auto& [now, full] : pairs) {
    const auto current = readInteger(supply / now);
    const auto maximum = readInteger(supply / full);
    if (current && maximum && *current >= 0 && *maximum >= 1) return Capacities{*current, *maximum};
  }
  const auto capacity = readInteger(supply / "capacity");
  if (capacity && *capacity >= 0) return Capacities{*capacity, 100};
  return std::nullopt;
}

}  // namespace

int batteryPercent(int64_t current, int64_t maximum) {
  // Multiplying first keeps exact halves exact (155 of 1000 is 15.5, not 15.4999...).
  return static_cast<int>(std::lround(static_cast<double>(current) * 100.0 / static_cast<double>(maximum)));
}

bool batteryGuardHolds(bool guardPreference, const BatteryReader& reader) {
  if (!guardPreference) return false;
  const auto reading = reader.batteryReading();
  return reading && reading->onBattery && reading->percent < 16;
}

PowerSupplyBatteryReader::PowerSupplyBatteryReader(std::filesystem::path root) : root_(std::move(root)) {}

std::optional<BatteryReading> PowerSupplyBatteryReader::batteryReading() const {
  std::error_code error;
  std::vector<std::filesystem::path> supplies;
  for (std::filesystem::directory_iterator it(root_, error), end; !error && it != end; it.increment(error))
    supplies.push_back(it->path());
  std::sort(supplies.begin(), supplies.end());

  std::optional<BatteryReading> reading;
  std::optional<std::string> batteryStatus;
  bool adapterOnline = false;
  bool adapterOffline = false;
  for (const auto& supply : supplies) {
    const auto type = readAttribute(supply / "type");
    if (!type) continue;
    if (*type == "Battery" || *type == "UPS") {
      if (reading || readAttribute(supply / "scope") == "Device") continue;
      if (readInteger(supply / "present") == 0) continue;
      if (const auto capacities = usableCapacities(supply)) {
        reading = BatteryReading{batteryPercent(capacities->current, capacities->maximum), false};
        batteryStatus = readAttribute(supply / "status");
      }
    } else if (const auto online = readInteger(supply / "online")) {
      (*online != 0 ? adapterOnline : adapterOffline) = true;
    }
  }
  if (!reading) return std::nullopt;
  if (adapterOnline) {
    reading->onBattery = false;
  } else if (batteryStatus == "Discharging") {
    reading->onBattery = true;
  } else if (batteryStatus == "Charging") {
    reading->onBattery = false;
  } else {
    reading->onBattery = adapterOffline;
  }
  return reading;
}

}  // namespace tovami
