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
