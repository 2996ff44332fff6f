#pragma once

#include <functional>

// The notch view's buttons, reported to the application controller. None carries a value: the controller
// reads what it needs (save length, last clip) from the model. An empty callback does nothing.
struct NotchActions {
    std::function<void()> save;
    std::function<void()> copy;
    std::function<void()> handoff;
    std::function<void()> openClip;
    std::function<void()> reveal;
    std::function<void()> togglePause;
    std::function<void()> openSettings;
    std::function<void()> openPrivacySettings;
    std::function<void()> retry;
};
