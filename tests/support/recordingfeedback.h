#pragma once

#include "platform/soundplayer.h"


// A stand-in for the sound player that remembers what it was asked to play.
class RecordingSound final : public SoundPlayer
{
public:
    int played = 0;
    void playSuccess() override { ++played; }
};
