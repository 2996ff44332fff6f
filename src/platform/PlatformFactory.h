#pragma once

#include "platform/MediaPlatform.h"
#include "platform/PreferencesStore.h"
#include "platform/Screens.h"

#include <memory>

// The one place that picks backends, from the session's type (X11, or Wayland through the desktop's
// portals), decided once. FERROVANE_PLATFORM=x11, portal or null forces one (null: every start fails, for
// tests of the failure path); any other value, or a session none fits, gives the null backends with the
// reason as their message.
MediaPlatform createMediaPlatform();
std::unique_ptr<PreferencesStore> createPreferencesStore();

// Settles what Qt's window system integration reads when the QGuiApplication is created; call before.
void prepareWindowSystem();

// The session's screens backend: Qt's screens, and on X11 a private connection for the pointer and the
// compositing manager. Call once the QGuiApplication exists.
std::unique_ptr<Screens> createScreens();

class ScreenLockMonitor;
class ControlChannel;

// The session's lock and unlock, from whichever desktop and logind sources exist; without a bus, a
// monitor that never reports. Call once the QCoreApplication exists.
std::unique_ptr<ScreenLockMonitor> createScreenLockMonitor();

// The per-user session-bus service that keeps one instance running and carries other launches'
// commands to it. Call once the QCoreApplication exists.
std::unique_ptr<ControlChannel> createControlChannel();

class FileOpener;
class SoundPlayer;

// Default applications and the file manager. Call once the QGuiApplication exists.
std::unique_ptr<FileOpener> createFileOpener();
// The desktop's event sounds.
std::unique_ptr<SoundPlayer> createSoundPlayer();

class Clipboard;

// The system clipboard. Call once the QGuiApplication exists; use on the main thread only.
std::unique_ptr<Clipboard> createClipboard();

class GlobalShortcut;

// The session's way to watch the keyboard for a shortcut: X11 passive grabs; elsewhere a backend whose
// registration fails with the reason.
std::unique_ptr<GlobalShortcut> createGlobalShortcut();

class LoginItem;

// Starting the application at login: an XDG autostart entry that runs this executable. Call once the
// QCoreApplication exists (it knows the executable's path).
std::unique_ptr<LoginItem> createLoginItem();

class Appearance;

// The desktop's light or dark preference, from the settings portal on the session bus; without one it
// stays light. Call once the QCoreApplication exists.
std::unique_ptr<Appearance> createAppearance();
