#pragma once

#include "base/Error.h"

#include <QKeyCombination>

#include <functional>

// A keyboard shortcut for the whole desktop: pressing the combination runs the handler whichever
// application has the focus. An object holds one registration, from a successful registerShortcut until it
// is destroyed; after that the handler never runs again. Main thread only; the handler runs there too, once
// per press of the key, however long it is held.
class GlobalShortcut {
public:
    using Handler = std::function<void()>;

    virtual ~GlobalShortcut() = default;

    // Call at most once. Fails, holding nothing, when another program has the combination, no key of the
    // keyboard types the key, or the session offers no way to watch the keyboard.
    virtual Status registerShortcut(QKeyCombination combination, Handler pressed) = 0;
    // Told, once, when a registration that was accepted fails later on (the desktop would not bind it).
    // Set it before registering.
    virtual void setOnLost(std::function<void(const Error&)> lost) { Q_UNUSED(lost); }
};
