#pragma once

#include "base/Error.h"

#include <QString>

// Where rolling buffers live: "FerrovaneBuffer" in the user's private temporary directory
// ($XDG_RUNTIME_DIR, else the system's). Folders are created 0700. A root that is a symbolic link, not a
// folder, or not the user's own is never used or deleted through: a fresh private folder stands in.
namespace BufferRoot {

inline const QString name = QStringLiteral("FerrovaneBuffer");

QString temporaryDirectory();
// The root to use now, checked; not created.
QString location();
// Creates `path` (and its parent root) private to the user; fails if either exists and is not a plain
// folder of the user's.
Status createPrivateFolder(const QString& path);
// Removes the buffers of earlier runs from the root and the stand-in roots, best effort and only inside the
// user's own plain folders: every folder that no live recorder holds locked, and stray entries (links are
// removed, never followed). Roots left empty go too.
void removeAll();
// Best effort, never through a link.
void removeFolder(const QString& path);
// Removes whatever took a folder's place in a private root (a link, a file), never following it.
void removeImpostor(const QString& path);
// Removes `path` when it is an empty folder.
void removeIfEmpty(const QString& path);
bool isPrivateFolder(const QString& path);

} // namespace BufferRoot
