#include "XClip.h"

#include <QProcess>
#include <QSignalSpy>

namespace XClip {

QByteArray read(const QStringList& arguments) {
    QProcess xclip;
    QSignalSpy finished(&xclip, &QProcess::finished);
    xclip.start(QStringLiteral("xclip"), QStringList{"-o", "-selection", "clipboard"} + arguments);
    if (!xclip.waitForStarted(5000)) return {};
    if (finished.isEmpty() && !finished.wait(10000)) {
        xclip.kill();
        xclip.waitForFinished(3000);
        return {};
    }
    if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) return {};
    return xclip.readAllStandardOutput();
}

QStringList targets() {
    QStringList lines =
        QString::fromUtf8(read({"-t", "TARGETS"})).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.trimmed();
    return lines;
}

QByteArray content(const QString& target) {
    return read({"-t", target});
}

} // namespace XClip
