#pragma once

#include <QKeySequence>
#include <QString>
#include <QStringList>

#include <vector>

// The tray icon's menu, rebuilt from the current state each time it is about to open.
namespace StatusMenu {

struct State {
    double bufferSeconds = 0;
    double saveLength = 0;
    bool paused = false;     // by the user or by the screen lock
    QStringList recentClips; // newest first
    bool hotKeyBound = true; // Ctrl+Alt+R works on this desktop
};

enum class Command { None, Save, TogglePause, OpenRecent, OpenFolder, Settings, Quit };

struct Entry {
    enum class Kind { Item, Label, Separator };
    Kind kind = Kind::Item;
    QString title;
    Command command = Command::None;
    QString clip; // OpenRecent only
    QKeySequence shortcut;

    static Entry item(QString title, Command command, QString clip = {}, QKeySequence shortcut = {}) {
        return Entry{Kind::Item, std::move(title), command, std::move(clip), std::move(shortcut)};
    }
    static Entry label(QString title) { return Entry{Kind::Label, std::move(title), Command::None, {}, {}}; }
    static Entry separator() { return Entry{Kind::Separator, {}, Command::None, {}, {}}; }

    friend bool operator==(const Entry&, const Entry&) = default;
};

std::vector<Entry> entries(const State& state);

} // namespace StatusMenu
