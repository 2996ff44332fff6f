#pragma once

#include "platform/MediaPlatform.h"
#include "platform/PreferencesStore.h"

#include <memory>

// The one place that picks backends for this session. FERROVANE_PLATFORM=null forces the null backend
// (tests of the failure path); an unknown session falls back to it too, with a message for the user.
MediaPlatform createMediaPlatform();
std::unique_ptr<PreferencesStore> createPreferencesStore();
