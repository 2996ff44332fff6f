#pragma once

#include <QDir>
#include <QString>

// A path as messages show it: under the home folder as "~/…", which keeps them short enough to read whole.
inline QString shownPath(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    const QString home = QDir::cleanPath(QDir::homePath());
    return clean.startsWith(home + QLatin1Char('/')) ? QStringLiteral("~") + clean.mid(home.size()) : clean;
}
