#include "app/AppShell.h"

#include "clips/AgentHandoff.h"
#include "clips/Thumbnailer.h"
#include "notch/NotchController.h"
#include "platform/Clipboard.h"
#include "platform/FileOpener.h"
#include "platform/MediaAssets.h"
#include "platform/ScreenCapture.h"
#include "platform/SoundPlayer.h"
#include "settings/SettingsWindow.h"

#include <QCoreApplication>

AppShell::AppShell(std::shared_ptr<ScreenCapture> capture, std::shared_ptr<MediaAssets> assets,
                   std::unique_ptr<Clipboard> clipboard, std::unique_ptr<FileOpener> opener,
                   std::unique_ptr<SoundPlayer> sound)
    : m_capture(std::move(capture))
    , m_assets(std::move(assets))
    , m_clipboard(std::move(clipboard))
    , m_opener(std::move(opener))
    , m_sound(std::move(sound)) {}

AppShell::~AppShell() = default;

void AppShell::setNotch(NotchController* notch) {
    m_notch = notch;
}

void AppShell::peek(double seconds) {
    if (m_notch) m_notch->peek(seconds);
}

void AppShell::flash() {
    if (m_notch) m_notch->flash();
}

void AppShell::reposition() {
    if (m_notch) m_notch->reposition();
}

bool AppShell::captureAllowed() {
    return m_capture->captureAllowed();
}

void AppShell::copyFile(const QString& path) {
    m_clipboard->setFile(path);
}

void AppShell::openFile(const QString& path, Opened done) {
    m_opener->openFile(path, std::move(done));
}

void AppShell::reveal(const QString& path, Opened done) {
    m_opener->reveal(path, std::move(done));
}

void AppShell::openFolder(const QString& path, Opened done) {
    m_opener->openFolder(path, std::move(done));
}

void AppShell::showSettings(std::function<void()> openFolder) {
    if (m_settingsWindow) m_settingsWindow->show(std::move(openFolder));
}

bool AppShell::openPrivacySettings() {
    // No settings page grants screen capture on Linux: where the desktop asks (Wayland), forgetting the
    // earlier answer makes the next start ask again; the controller then starts again.
    m_capture->forgetChoice();
    return false;
}

void AppShell::playSaveSound() {
    m_sound->playSaveSound();
}

void AppShell::makeThumbnail(const QString& clip, std::function<void(const QImage&, double)> done) {
    Thumbnailer::makeAsync(m_assets, clip).then(qApp, [done = std::move(done)](const Thumbnail& thumbnail) {
        done(thumbnail.image, thumbnail.duration);
    });
}

void AppShell::handOff(const QString& clip, int frameCount, std::function<void(const Status&)> done) {
    AgentHandoff::prepare(m_assets, *m_clipboard, clip, frameCount)
        .then(qApp, [done = std::move(done)](const Result<QString>& prompt) {
            done(prompt ? Status(Ok{}) : Status(prompt.error()));
        });
}
