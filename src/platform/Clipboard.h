#pragma once

#include <QString>

// The system clipboard ("general clipboard"). Each setter replaces everything the clipboard held with
// the one item it is given. Main thread only: the backend talks to the window system through the
// application's connection, which belongs to the GUI thread; work on other threads hands its result to
// the main thread first (AgentHandoff::prepare does so through its future's continuation).
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // The text as the only content, offered as plain text (text/plain and its charset variants).
    virtual void setText(const QString& text) = 0;
    // A reference to one file as the only content (the clip's Copy button), offered as text/uri-list and
    // as x-special/gnome-copied-files ("copy\nfile:///…") so that file managers paste a copy of the
    // file. `path` is a plain file-system path; a relative one is taken from the current directory.
    virtual void setFile(const QString& path) = 0;
    // The plain text the clipboard holds now, whoever put it there; empty when it holds none.
    virtual QString text() const = 0;
};
