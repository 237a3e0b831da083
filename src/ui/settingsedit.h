#pragma once

#include <functional>

class SettingsStore;
struct AppSettings;

namespace SettingsEdit {

// Replaces the settings with a copy changed by edit; an edit that changes nothing writes nothing.
void apply(SettingsStore *store, const std::function<void(AppSettings &)> &edit);

} // namespace SettingsEdit
