#pragma once

#include "app/DesktopShell.h"

#include <QPointer>

#include <memory>

class MediaAssets;
class NotchController;
class Clipboard;
class ScreenCapture;
class SettingsWindow;
class SoundPlayer;
class FileOpener;

// The desktop around the controller on Linux: the notch panel (none when headless), the clipboard, the
// file manager, the theme's sounds and the clip tools on the thread pool.
class AppShell final : public DesktopShell {
public:
    AppShell(std::shared_ptr<ScreenCapture> capture, std::shared_ptr<MediaAssets> assets,
             std::unique_ptr<Clipboard> clipboard, std::unique_ptr<FileOpener> opener,
             std::unique_ptr<SoundPlayer> sound);
    ~AppShell() override;

    void setNotch(NotchController* notch);
    void setSettingsWindow(SettingsWindow* window) { m_settingsWindow = window; }

    void peek(double seconds) override;
    void flash() override;
    void reposition() override;
    bool captureAllowed() override;
    void copyFile(const QString& path) override;
    void openFile(const QString& path, Opened done) override;
    void reveal(const QString& path, Opened done) override;
    void openFolder(const QString& path, Opened done) override;
    void showSettings(std::function<void()> openFolder) override;
    bool openPrivacySettings() override;
    void playSaveSound() override;
    void makeThumbnail(const QString& clip, std::function<void(const QImage&, double)> done) override;
    void handOff(const QString& clip, int frameCount, std::function<void(const Status&)> done) override;

private:
    std::shared_ptr<ScreenCapture> m_capture;
    std::shared_ptr<MediaAssets> m_assets;
    std::unique_ptr<Clipboard> m_clipboard;
    std::unique_ptr<FileOpener> m_opener;
    std::unique_ptr<SoundPlayer> m_sound;
    QPointer<NotchController> m_notch;
    SettingsWindow* m_settingsWindow = nullptr;
};
