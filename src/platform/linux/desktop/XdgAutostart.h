#pragma once

#include "platform/LoginItem.h"

#include <QString>

// An XDG autostart entry, $XDG_CONFIG_HOME/autostart/io.github.ferrovane.Ferrovane.desktop. Only that one
// file is ever written or removed; an entry the user edited by hand counts as ours and is replaced whole.
class XdgAutostart final : public LoginItem {
public:
    // `executable`: the absolute path the entry starts.
    explicit XdgAutostart(QString executable, QString entryPath = defaultEntryPath());

    static QString defaultEntryPath();
    // `path` as one argument of an Exec= value: quoted and escaped as freedesktop.org's desktop entry format
    // asks when it holds a reserved character.
    static QString execArgument(const QString& path);

    bool enabled() const override;
    Status registerItem() override;
    Status unregisterItem() override;

    QString entryPath() const { return m_entryPath; }

private:
    QString m_executable;
    QString m_entryPath;
};
