#pragma once

// Short event sounds from the desktop's sound theme. A sound that cannot play is not an error the user
// needs to hear of.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // The "a clip was saved" sound.
    virtual void playSaveSound() = 0;
};
