#pragma once

#include <QByteArray>
#include <QStringList>

// Reads the X clipboard as another program would, with xclip. While the xclip process runs, the event
// loop is spun so this process, when it owns the clipboard, can answer. Empty when xclip failed.
namespace XClip {

QByteArray read(const QStringList& arguments);
// The targets the clipboard's owner offers.
QStringList targets();
// The content for one target.
QByteArray content(const QString& target);

} // namespace XClip
