#pragma once

#include "app/DesktopShell.h"
#include "platform/ScreenCapture.h"

#include <memory>

// `ferrovane --headless`: no panel, clipboard, file manager or sound. Nothing reaches the clip actions
// without a panel, and the thumbnail is skipped so that a clip is reported as soon as it is written.
class HeadlessShell final : public DesktopShell {
public:
    explicit HeadlessShell(std::shared_ptr<ScreenCapture> capture)
        : m_capture(std::move(capture)) {}

    void peek(double) override {}
    void flash() override {}
    void reposition() override {}
    bool captureAllowed() override { return m_capture->captureAllowed(); }
    void copyFile(const QString&) override {}
    void openFile(const QString&, Opened done) override { done(noDesktop()); }
    void reveal(const QString&, Opened done) override { done(noDesktop()); }
    void openFolder(const QString&, Opened done) override { done(noDesktop()); }
    void showSettings(std::function<void()>) override {}
    bool openPrivacySettings() override { return false; }
    void playSaveSound() override {}
    void makeThumbnail(const QString&, std::function<void(const QImage&, double)> done) override {
        done(QImage(), 0);
    }
    void handOff(const QString&, int, std::function<void(const Status&)> done) override {
        done(platformError(QStringLiteral("No clipboard without a desktop.")));
    }

private:
    static Error noDesktop() { return platformError(QStringLiteral("No desktop to open it on.")); }

    std::shared_ptr<ScreenCapture> m_capture;
};
