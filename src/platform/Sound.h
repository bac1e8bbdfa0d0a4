#pragma once

// The capture sound. Play() returns at once; the sound plays in the
// background and is silent where there is no audio output. The audio system
// is touched only on the first Play(), so start-up does not pay for it.
class TSound
{
public:
    virtual ~TSound() = default;
    virtual void Play() = 0;
};
