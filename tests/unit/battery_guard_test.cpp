#include "nap/battery_guard.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace tovami {
namespace {

namespace fs = std::filesystem;

class PowerSupplyTree : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(root); }

  void write(const std::string& supply, const std::string& file, const std::string& text) {
    fs::create_directories(root / supply);
    std::ofstream(root / supply / file) << text;
  }
  // Capacities in "energy_*" files, or in those named by `unit` ("charge").
  void battery(const std::string& name, const std::string& status, int64_t now, int64_t full,
               const std::string& unit = "energy") {
    write(name, "type", "Battery\n");
    write(name, "status", status + "\n");
    write(name, unit + "_now", std::to_string(now) + "\n");
    write(name, unit + "_full", std::to_string(full) + "\n");
  }
  void adapter(const std::string& name, const std::string& online) {
    write(name, "type", "Mains\n");
    write(name, "online", online + "\n");
  }
  std::optional<BatteryReading> read() const { return PowerSupplyBatteryReader(root).batteryReading(); }

  fs::path root = fs::temp_directory_path() / ("tovami-power-" + std::to_string(std::random_device{}()));
};

TEST_F(PowerSupplyTree, OnlyADischargingBatteryCanPause) {
  fs::create_directories(root);
  EXPECT_EQ(read(), std::nullopt);  // empty tree
  EXPECT_EQ(PowerSupplyBatteryReader(root / "missing").batteryReading(), std::nullopt);
  adapter("AC", "0");
  battery("BAT0", "Discharging", 149, 1000);
  EXPECT_EQ(read(), (BatteryReading{15, true}));

  fs::remove_all(root);
  adapter("AC", "1");
  EXPECT_EQ(read(), std::nullopt);  // a desktop: mains only
  battery("BAT0", "Discharging", 5, 100);
  EXPECT_EQ(read(), (BatteryReading{5, false}));  // an online adapter wins over a confused battery

  // Without an adapter the status decides; an offline adapter decides otherwise.
  fs::remove_all(root);
  battery("BAT0", "Charging", 10, 100);
  EXPECT_EQ(read(), (BatteryReading{10, false}));
  battery("BAT0", "Unknown", 10, 100);
  EXPECT_EQ(read(), (BatteryReading{10, false}));
  adapter("ADP1", "0");
  EXPECT_EQ(read(), (BatteryReading{10, true}));
  adapter("ADP1", "garbage");
  EXPECT_EQ(read(), (BatteryReading{10, false}));
}

TEST_F(PowerSupplyTree, TakesTheFirstBatteryWithUsableCapacities) {
  // BAT0: text in its capacity files, a zero maximum; BAT1 usable; BAT2 never looked at.
  battery("BAT0", "Discharging", 0, 0);
  write("BAT0", "energy_now", "lots\n");
  write("BAT0", "capacity", "full\n");
  battery("BAT1", "Discharging", 30, 200);
  battery("BAT2", "Discharging", 90, 100);
  // A wireless mouse's battery is not the machine's.
  battery("AAA-hid-mouse", "Discharging", 1, 100);
  write("AAA-hid-mouse", "scope", "Device\n");
  EXPECT_EQ(read(), (BatteryReading{15, true}));
}

TEST_F(PowerSupplyTree, FallsBackToChargeAndCapacityFiles) {
  battery("BAT0", "Discharging", 1550, 10000, "charge");
  EXPECT_EQ(read(), (BatteryReading{16, true}));  // 15.5 % rounds up: no pause yet
  fs::remove(root / "BAT0" / "charge_full");
  write("BAT0", "capacity", "15\n");
  EXPECT_EQ(read(), (BatteryReading{15, true}));
  write("BAT0", "capacity", "-3\n");
  EXPECT_EQ(read(), std::nullopt);
  write("BAT0", "capacity", "15");  // no line feed
  write("BAT0", "present", "0\n");
  EXPECT_EQ(read(), std::nullopt);  // an empty bay
}

}  // namespace
}  // namespace tovami
