#include "app/StatusMenu.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace StatusMenu {

std::vector<Entry> entries(const State& state) {
    const long seconds = long(std::trunc(std::min(state.bufferSeconds, state.saveLength)));
    std::vector<Entry> menu{
        // The hot key is part of the title: it works everywhere, not only while the menu is open. Where the
        // desktop has not bound it, it is not named.
        Entry::item(QStringLiteral("Save Last %1 Seconds").arg(seconds) +
                        (state.hotKeyBound ? QStringLiteral("   Ctrl+Alt+R") : QString()),
                    Command::Save),
        Entry::item(state.paused ? QStringLiteral("Resume Replay") : QStringLiteral("Pause and Clear Buffer"),
                    Command::TogglePause),
        Entry::separator(),
        Entry::label(state.recentClips.isEmpty() ? QStringLiteral("No replays yet")
                                                 : QStringLiteral("Recent Replays")),
    };
    for (const QString& clip : state.recentClips)
        menu.push_back(Entry::item(QFileInfo(clip).completeBaseName(), Command::OpenRecent, clip));
    menu.push_back(Entry::item(QStringLiteral("Open Replays Folder"), Command::OpenFolder));
    menu.push_back(Entry::separator());
    menu.push_back(Entry::item(QStringLiteral("Settings…"), Command::Settings, {},
                               QKeySequence(Qt::CTRL | Qt::Key_Comma)));
    menu.push_back(
        Entry::item(QStringLiteral("Quit Ferrovane"), Command::Quit, {}, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    return menu;
}

} // namespace StatusMenu
