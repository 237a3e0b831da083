#pragma once

#include <QString>

// Plays the sound that marks a finished batch: the sound theme's "complete" event through
// libcanberra, asynchronously, and nothing where no sound output exists. Tests install a
// recording player. Used from the GUI thread only.
class SoundPlayer
{
public:
    virtual ~SoundPlayer();
    virtual void playSuccess() = 0;

    // The player in use.
    static SoundPlayer &defaultPlayer();
    // Installs player (not owned) in place of the default; nullptr restores the default.
    static void setDefaultPlayer(SoundPlayer *player);
};

// Whether a sound server socket (runtimeDir/pulse/native, also PipeWire's) or an ALSA playback
// device (deviceDir/pcmC*D*p) exists. Without either, libcanberra's ALSA fallback would only
// print errors.
bool hasSoundOutput(const QString &runtimeDir, const QString &deviceDir);
