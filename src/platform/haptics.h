#pragma once

// The haptic patterns the application asks for.
enum class HapticPattern { generic, alignment, levelChange };

// Plays haptic patterns. Linux desktops have no haptic hardware, so the default performer
// does nothing; tests install a recording one. Used from the GUI thread only.
class HapticPerformer
{
public:
    virtual ~HapticPerformer();
    virtual void perform(HapticPattern pattern) = 0;

    // The performer in use.
    static HapticPerformer &defaultPerformer();
    // Installs performer (not owned) in place of the default; nullptr restores the default.
    static void setDefaultPerformer(HapticPerformer *performer);
};
