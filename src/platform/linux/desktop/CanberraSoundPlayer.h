#pragma once

#include "platform/SoundPlayer.h"

struct ca_context;

// libcanberra, with the freedesktop sound theme: "screen-capture", or "complete" where the theme lacks it.
class CanberraSoundPlayer final : public SoundPlayer {
public:
    CanberraSoundPlayer();
    ~CanberraSoundPlayer() override;
    CanberraSoundPlayer(const CanberraSoundPlayer&) = delete;
    CanberraSoundPlayer& operator=(const CanberraSoundPlayer&) = delete;

    void playSaveSound() override;

private:
    ca_context* m_context = nullptr;
};
