#include "platform/linux/desktop/XdgAutostart.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <unistd.h>

namespace {

const QString appId = QStringLiteral("io.github.ferrovane.Ferrovane");

// The escapes every string value of a desktop entry takes, applied after the Exec quoting.
QString escapeString(const QString& value) {
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}

} // namespace

XdgAutostart::XdgAutostart(QString executable, QString entryPath)
    : m_executable(std::move(executable))
    , m_entryPath(std::move(entryPath)) {}

QString XdgAutostart::defaultEntryPath() {
    // Qt ignores a relative XDG_CONFIG_HOME and falls back to ~/.config, as freedesktop.org's base directory
    // rules ask.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + appId + QStringLiteral(".desktop");
}

QString XdgAutostart::execArgument(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument;
    bool quote = false;
    for (const QChar c : path) {
        quote = quote || reserved.contains(c);
        // A lone % would start a field code.
        if (c == QLatin1Char('%')) argument += QLatin1Char('%');
        argument += c;
    }
    if (quote) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    return escapeString(argument);
}

// The desktop skips an entry that is hidden, switched off for GNOME, or that it cannot read.
bool XdgAutostart::enabled() const {
    QFile file(m_entryPath);
    if (!file.open(QIODevice::ReadOnly)) return false;
    bool inEntry = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inEntry || equals < 0) continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden" && value == "true") return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
    }
    return true;
}

Status XdgAutostart::registerItem() {
    const QString folder = QFileInfo(m_entryPath).absolutePath();
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error)
        return platformError(QStringLiteral("Couldn't create %1: %2")
                                 .arg(folder, QString::fromLocal8Bit(error.message().c_str())));

    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Ferrovane\n"
                                         "Exec=%1\n"
                                         "Icon=%2\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execArgument(m_executable), appId);
    // Written aside and renamed into place, so the session never starts from half an entry.
    QSaveFile file(m_entryPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        return platformError(QStringLiteral("Couldn't write %1: %2").arg(m_entryPath, file.errorString()));
    return Ok{};
}

Status XdgAutostart::unregisterItem() {
    if (::unlink(QFile::encodeName(m_entryPath).constData()) == 0) return Ok{};
    const int error = errno;
    // ENOTDIR: a file stands where a folder of the path belongs, so there is no entry either.
    if (error == ENOENT || error == ENOTDIR) return Ok{};
    return platformError(QStringLiteral("Couldn't remove %1: %2")
                             .arg(m_entryPath, QString::fromLocal8Bit(std::strerror(error))));
}
