#include "ui/settingsedit.h"

#include "app/settingsstore.h"

namespace SettingsEdit {

void apply(SettingsStore *store, const std::function<void(AppSettings &)> &edit)
{
    AppSettings settings = store->settings();
    edit(settings);
    if (settings == store->settings())
        return;
    store->setSettings(settings);
}

} // namespace SettingsEdit
