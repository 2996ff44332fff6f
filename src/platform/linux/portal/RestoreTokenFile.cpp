#include "platform/linux/portal/RestoreTokenFile.h"

#include "base/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Portals issue UUIDs; anything longer or with other characters did not come from one.
constexpr qint64 maxTokenBytes = 256;

bool plausible(const QString& token) {
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9._:-]+$"));
    return shape.match(token).hasMatch();
}

} // namespace

RestoreTokenFile RestoreTokenFile::standard() {
    return RestoreTokenFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                            QStringLiteral("/Ferrovane/screencast-restore-token"));
}

std::optional<QString> RestoreTokenFile::read() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.read(maxTokenBytes + 1);
    const QString token = QString::fromLatin1(bytes).trimmed();
    if (bytes.size() > maxTokenBytes || !plausible(token)) {
        qCDebug(lcCapture) << "ignoring an unusable restore token in" << m_path;
        return std::nullopt;
    }
    return token;
}

void RestoreTokenFile::write(const QString& token) const {
    if (!plausible(token)) return;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(token.toLatin1()) < 0 || !file.commit())
        qCDebug(lcCapture) << "cannot keep the restore token:" << file.errorString();
}

void RestoreTokenFile::forget() const {
    QFile::remove(m_path);
}
