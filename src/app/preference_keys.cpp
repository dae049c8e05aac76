#include "app/preference_keys.h"

#include "app/app_services.h"
#include "platform/log.h"
#include "platform/preferences_store.h"

namespace tovami {

void seedPreferences(PreferenceStore& store, bool someDisplayHasCameraHousing) {
  if (!store.hasValue(prefs::kIslandEnabled))
    store.setBool(prefs::kIslandEnabled, someDisplayHasCameraHousing);
  for (auto key : prefs::kSeededTrue)
    if (!store.hasValue(key)) store.setBool(key, true);
}

bool boolOr(const PreferenceStore& store, std::string_view key, bool fallback) {
  return store.hasValue(key) ? store.boolValue(key) : fallback;
}

bool wakeRequiresAuthentication(const PreferenceStore& store) {
  if (!store.hasValue(prefs::kWakeRequirement)) return false;
  const auto value = store.stringValue(prefs::kWakeRequirement);
  if (value == std::string(prefs::kWakeNone)) return false;
  if (value != std::string(prefs::kWakeAuth))
    logError(log_categories::kApp,
             "preferences: wakeRequirement holds a value that is neither \"none\" nor \"auth\"; "
             "asking for the password");
  return true;
}

void applyServiceSwitch(PreferenceStore& store, std::string_view key, bool on, StartStopControl* service) {
  store.setBool(key, on);
  if (!service) return;
  if (store.boolValue(key))
    service->start();
  else
    service->stop();
}

}  // namespace tovami
