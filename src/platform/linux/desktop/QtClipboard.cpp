#include "platform/linux/desktop/QtClipboard.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>
#include <QUrl>

namespace {

void replaceContent(QMimeData* data) {
    Q_ASSERT_X(QGuiApplication::instance() &&
                   QThread::currentThread() == QGuiApplication::instance()->thread(),
               "QtClipboard", "used off the main thread");
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard); // takes ownership
}

} // namespace

void QtClipboard::setText(const QString& text) {
    auto* data = new QMimeData;
    data->setText(text);
    replaceContent(data);
}

void QtClipboard::setFile(const QString& path) {
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    auto* data = new QMimeData;
    data->setUrls({url});
    // GNOME Files, Nemo, Caja and Thunar paste a file from this target; "copy" (not "cut") keeps the clip.
    data->setData(QStringLiteral("x-special/gnome-copied-files"), QByteArray("copy\n") + url.toEncoded());
    replaceContent(data);
}

QString QtClipboard::text() const {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}
