#include "ui/settingsedit.h"

#include "app/appstate.h"

namespace SettingsEdit {

void apply(AppState *state, const std::function<void(AppSettings &)> &edit)
{
    AppSettings settings = state->settings();
    edit(settings);
    if (settings == state->settings())
        return;
    state->setSettings(settings);
}

} // namespace SettingsEdit
