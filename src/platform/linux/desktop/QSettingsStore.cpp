#include "platform/linux/desktop/QSettingsStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QSettingsStore::QSettingsStore(const QString& path, QObject* parent)
    : PreferencesStore(parent)
    , m_path(path)
    , m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat)) {
    m_knownDigest = fileDigest();
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &QSettingsStore::fileTouched);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &QSettingsStore::fileTouched);
    watch();
}

QSettingsStore::~QSettingsStore() = default;

QString QSettingsStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ferrovane/Ferrovane.conf");
}

void QSettingsStore::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_defaults.insert(it.key(), it.value());
}

QVariant QSettingsStore::value(const QString& key) const {
    const QVariant stored = m_settings->value(key);
    return stored.isValid() ? stored : m_defaults.value(key);
}

void QSettingsStore::setValue(const QString& key, const QVariant& value) {
    m_settings->setValue(key, value);
    m_settings->sync();
    m_knownDigest = fileDigest();
    watch();
    emit changed();
}

void QSettingsStore::remove(const QString& key) {
    m_settings->remove(key);
    m_settings->sync();
    m_knownDigest = fileDigest();
    watch();
    emit changed();
}

// Editors replace the file rather than write into it, so the folder is watched as well and the file is
// added again whenever it reappears. Until the folder exists, its nearest existing parent tells when it
// is made.
void QSettingsStore::watch() {
    QString dir = QFileInfo(m_path).absolutePath();
    while (!QFileInfo::exists(dir) && QFileInfo(dir).absolutePath() != dir)
        dir = QFileInfo(dir).absolutePath();
    if (!m_watcher.directories().contains(dir)) m_watcher.addPath(dir);
    if (QFileInfo::exists(m_path) && !m_watcher.files().contains(m_path)) m_watcher.addPath(m_path);
}

void QSettingsStore::fileTouched() {
    watch();
    const QByteArray digest = fileDigest();
    if (digest == m_knownDigest) return;
    m_knownDigest = digest;
    // A fresh QSettings rereads the file; sync() would write our cached values back over the edit.
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    emit changed();
}

QByteArray QSettingsStore::fileDigest() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
}
