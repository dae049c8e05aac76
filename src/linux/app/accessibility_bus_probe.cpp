#include "linux/app/accessibility_bus_probe.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>

namespace tovami::linux_backend {

bool accessibilityBusHangs(std::chrono::milliseconds bound) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;  // DBUS_SESSION_BUS_ADDRESS, else the runtime folder's bus
  sd_bus_set_method_call_timeout(bus, static_cast<uint64_t>(std::chrono::microseconds(bound).count()));
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int owned = 0;
  // The bus daemon answers this one itself; only an owned name can hang.
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", &error, &reply, "s", "org.a11y.Bus") < 0 ||
      sd_bus_message_read(reply, "b", &owned) < 0)
    owned = 0;
  reply = sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  bool hangs = false;
  if (owned) {
    hangs = sd_bus_call_method(bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                               "GetAll", &error, &reply, "s", "org.a11y.Status") == -ETIMEDOUT;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
  }
  sd_bus_flush_close_unref(bus);
  return hangs;
}

}  // namespace tovami::linux_backend
