#pragma once

#include "platform/PreferencesStore.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QSettings>

#include <memory>

// ~/.config/Ferrovane/Ferrovane.conf (INI). Registered defaults live in memory only. The file and its
// folder are watched so an edit from another process or a text editor raises `changed` too; our own
// writes are recognised by the file's content and raise it only once.
class QSettingsStore final : public PreferencesStore {
    Q_OBJECT
public:
    explicit QSettingsStore(const QString& path = defaultPath(), QObject* parent = nullptr);
    ~QSettingsStore() override;

    static QString defaultPath();

    void registerDefaults(const QVariantMap& defaults) override;
    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

private:
    void fileTouched();
    void watch();
    QByteArray fileDigest() const;

    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_defaults;
    QFileSystemWatcher m_watcher;
    QByteArray m_knownDigest;
};
