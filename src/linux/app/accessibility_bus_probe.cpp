#include "linux/app/accessibility_bus_probe.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "linux/files/shared_library.h"

namespace tovami::linux_backend {
namespace {

// libdbus-1, which Qt's D-Bus module links, so opening it costs nothing: its few calls the probe
// makes, declared here as its stable C interface has them (no development headers needed).
struct DBusConnection;
struct DBusMessage;
struct DBusError {
  const char* name;
  const char* message;
  unsigned int dummy1 : 1, dummy2 : 1, dummy3 : 1, dummy4 : 1, dummy5 : 1;
  void* padding1;
};
using dbus_bool_t = uint32_t;
constexpr int kTypeInvalid = 0, kTypeBoolean = 'b', kTypeString = 's';

struct DBusCalls {
  void (*errorInit)(DBusError*) = nullptr;
  void (*errorFree)(DBusError*) = nullptr;
  dbus_bool_t (*errorHasName)(const DBusError*, const char*) = nullptr;
  DBusConnection* (*openPrivate)(const char*, DBusError*) = nullptr;
  void (*close)(DBusConnection*) = nullptr;
  void (*unrefConnection)(DBusConnection*) = nullptr;
  DBusMessage* (*newMethodCall)(const char*, const char*, const char*, const char*) = nullptr;
  dbus_bool_t (*appendArgs)(DBusMessage*, int, ...) = nullptr;
  DBusMessage* (*call)(DBusConnection*, DBusMessage*, int, DBusError*) = nullptr;
  dbus_bool_t (*getArgs)(DBusMessage*, DBusError*, int, ...) = nullptr;
  void (*unrefMessage)(DBusMessage*) = nullptr;

  bool resolve(const SharedLibrary& library) {
    return library.resolve("dbus_error_init", errorInit) && library.resolve("dbus_error_free", errorFree) &&
           library.resolve("dbus_error_has_name", errorHasName) &&
           library.resolve("dbus_connection_open_private", openPrivate) &&
           library.resolve("dbus_connection_close", close) &&
           library.resolve("dbus_connection_unref", unrefConnection) &&
           library.resolve("dbus_message_new_method_call", newMethodCall) &&
           library.resolve("dbus_message_append_args", appendArgs) &&
           library.resolve("dbus_connection_send_with_reply_and_block", call) &&
           library.resolve("dbus_message_get_args", getArgs) && library.resolve("dbus_message_unref", unrefMessage);
  }
};

// The session bus's address: DBUS_SESSION_BUS_ADDRESS, else the runtime folder's bus. No autolaunch:
// a probe never starts a bus.
std::string sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || *runtime != '/') return {};
  std::string address = "unix:path=";
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char* p = runtime; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       c == '-' || c == '_' || c == '/' || c == '.' || c == '\\' || c == '*';
    if (plain)
      address.push_back(char(c));
    else
      address.append({'%', kHex[c >> 4], kHex[c & 15]});
  }
  return address + "/bus";
}

// A method call with one string argument, or nothing when it could not be built.
DBusMessage* newCall(const DBusCalls& dbus, const char* destination, const char* path, const char* interface,
                     const char* method, const char* argument) {
  DBusMessage* message = dbus.newMethodCall(destination, path, interface, method);
  if (message && argument && !dbus.appendArgs(message, kTypeString, &argument, kTypeInvalid)) {
    dbus.unrefMessage(message);
    return nullptr;
  }
  return message;
}

// Sends `message` (taken) and waits at most `timeoutMs` for its answer; `reply`, when given, keeps
// the answer (the caller unrefs it).
enum class Outcome { answered, failed, timedOut };
Outcome callMethod(const DBusCalls& dbus, DBusConnection* connection, DBusMessage* message, int timeoutMs,
                   DBusMessage** reply = nullptr) {
  if (!message) return Outcome::failed;
  DBusError error;
  dbus.errorInit(&error);
  DBusMessage* answer = dbus.call(connection, message, timeoutMs, &error);
  dbus.unrefMessage(message);
  Outcome outcome = Outcome::answered;
  if (!answer) {
    const bool late = dbus.errorHasName(&error, "org.freedesktop.DBus.Error.NoReply") ||
                      dbus.errorHasName(&error, "org.freedesktop.DBus.Error.Timeout");
    outcome = late ? Outcome::timedOut : Outcome::failed;
  }
  dbus.errorFree(&error);
  if (answer && reply)
    *reply = answer;
  else if (answer)
    dbus.unrefMessage(answer);
  return outcome;
}

}  // namespace

bool accessibilityBusHangs(std::chrono::milliseconds bound) {
  static const SharedLibrary library("libdbus-1.so.3");
  DBusCalls dbus;
  if (!dbus.resolve(library)) return false;
  const std::string address = sessionBusAddress();
  if (address.empty()) return false;
  DBusError error;
  dbus.errorInit(&error);
  DBusConnection* bus = dbus.openPrivate(address.c_str(), &error);
  dbus.errorFree(&error);
  if (!bus) return false;
  const int timeoutMs = int(bound.count());
  const auto busCall = [&dbus](const char* method, const char* argument) {
    return newCall(dbus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method, argument);
  };
  bool hangs = false;
  // The bus daemon answers these itself (Hello, which it wants first, and NameHasOwner); only an owned
  // name can hang.
  DBusMessage* reply = nullptr;
  if (callMethod(dbus, bus, busCall("Hello", nullptr), timeoutMs) == Outcome::answered &&
      callMethod(dbus, bus, busCall("NameHasOwner", "org.a11y.Bus"), timeoutMs, &reply) == Outcome::answered) {
    dbus_bool_t owned = 0;
    dbus.errorInit(&error);
    if (!dbus.getArgs(reply, &error, kTypeBoolean, &owned, kTypeInvalid)) owned = 0;
    dbus.errorFree(&error);
    dbus.unrefMessage(reply);
    if (owned)
      hangs = callMethod(dbus, bus,
                         newCall(dbus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "GetAll",
                                 "org.a11y.Status"),
                         timeoutMs) == Outcome::timedOut;
  }
  dbus.close(bus);
  dbus.unrefConnection(bus);
  return hangs;
}

}  // namespace tovami::linux_backend
