#pragma once

#include "platform/haptics.h"
#include "platform/soundplayer.h"

#include <QList>

// Stand-ins for the feedback devices that remember what they were asked to play.
class RecordingHaptics final : public HapticPerformer
{
public:
    QList<HapticPattern> played;
    void perform(HapticPattern pattern) override { played.append(pattern); }
};

class RecordingSound final : public SoundPlayer
{
public:
    int played = 0;
    void playSuccess() override { ++played; }
};
