#pragma once

#include <QObject>

// The desktop's choice between a light and a dark look. Qt 6.4 reads none on X11, so a backend asks the
// desktop itself. Main thread only; `changed` arrives there whenever prefersDark() changes.
class Appearance : public QObject {
    Q_OBJECT
public:
    ~Appearance() override = default;

    // False until the desktop says otherwise, and for "no preference".
    virtual bool prefersDark() const = 0;

signals:
    void changed();

protected:
    explicit Appearance(QObject* parent = nullptr)
        : QObject(parent) {}
};

// The whole QApplication in Fusion, with a dark palette, or with the palette the platform offers (Fusion's
// light one on a bare X11 session). The QApplication must exist.
void applyColorScheme(bool dark);

// Applies the desktop's preference now and at every change while `appearance` lives. Until the desktop
// asks for dark, the application keeps the palette it started with, so a desktop that themes Qt itself
// (KDE, a platform theme plugin) is left alone.
void followAppearance(Appearance& appearance);
