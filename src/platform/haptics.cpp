#include "haptics.h"

namespace {

class SilentHapticPerformer final : public HapticPerformer
{
public:
    void perform(HapticPattern) override {}
};

SilentHapticPerformer silentPerformer;
HapticPerformer *installedPerformer = nullptr;

} // namespace

HapticPerformer::~HapticPerformer() = default;

HapticPerformer &HapticPerformer::defaultPerformer()
{
    return installedPerformer ? *installedPerformer : silentPerformer;
}

void HapticPerformer::setDefaultPerformer(HapticPerformer *performer)
{
    installedPerformer = performer;
}
