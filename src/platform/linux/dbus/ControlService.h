#pragma once

#include "platform/ControlChannel.h"

#include <QDBusContext>
#include <QObject>

// The running instance's object on the session bus. The bus name, the object path and the interface
// are the application's own reverse-DNS name; the interface's methods are the slots below, named in the
// bus's upper camel case. Lives on the main thread, where the bus delivers its calls.
class ControlService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.ferrovane.Ferrovane")
public:
    static const QString serviceName;
    static const QString objectPath;
    static const QString interfaceName;

    explicit ControlService(ControlHandlers handlers, QObject* parent = nullptr);

public slots:
    QString Save();
    void TogglePause();
    void Peek();
    QString Status();
    void Quit();
    void Locked();
    void Unlocked();

private:
    void afterReply(const std::function<void()>& handler);

    ControlHandlers m_handlers;
};
