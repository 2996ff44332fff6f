#pragma once

#include "app/AppDelegate.h"
#include "clips/ClipTools.h"
#include "notch/Panel.h"
#include "platform/Clipboard.h"
#include "platform/FileOpener.h"
#include "platform/SoundPlayer.h"

// The desktop as `ferrovane --headless` has it: no panel, clipboard, file manager or sound. Nothing reaches
// the clip actions without a panel, and the thumbnail is skipped so that a clip is reported as soon as it
// is written.
class HeadlessDesktop final : public Panel,
                              public Clipboard,
                              public FileOpener,
                              public SoundPlayer,
                              public ClipTools {
public:
    AppDelegate::Desktop roles(CapturePermission& capture) {
        return AppDelegate::Desktop{*this, capture, *this, *this, *this, *this, nullptr};
    }

    void peek(double) override {}
    void flash() override {}
    void reposition() override {}
    void setText(const QString&) override {}
    void setFile(const QString&) override {}
    QString text() const override { return {}; }
    void openFile(const QString&, Done done) override { done(noDesktop()); }
    void reveal(const QString&, Done done) override { done(noDesktop()); }
    void openFolder(const QString&, Done done) override { done(noDesktop()); }
    void playSaveSound() override {}
    void makeThumbnail(const QString&, std::function<void(const QImage&, double)> done) override {
        done(QImage(), 0);
    }
    void handOff(const QString&, int, std::function<void(const Status&)> done) override { done(noDesktop()); }

private:
    static Error noDesktop() { return platformError(QStringLiteral("No desktop to do it on.")); }
};
