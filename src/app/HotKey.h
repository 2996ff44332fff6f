#pragma once

#include <Qt>

#include <functional>
#include <memory>

class GlobalShortcut;

// A keyboard shortcut that runs an action whichever application has the focus; the controller's is
// Ctrl+Alt+R, which saves the last seconds. Registered from construction to destruction. A refused
// registration (another program has the combination, the session cannot watch the keyboard) leaves the
// shortcut silent and the rest of the application as it is: the menu and the panel still save. Main thread
// only.
class HotKey {
public:
    using Action = std::function<void()>;

    // `platform` is the session's backend, from createGlobalShortcut(). `unavailable` is told, once, when
    // the shortcut cannot work: at once, or later where the desktop binds it in the background. A warning
    // says why and how to bind `ferrovane --save` instead.
    HotKey(Qt::Key keyCode, Qt::KeyboardModifiers modifiers, Action action,
           std::unique_ptr<GlobalShortcut> platform, std::function<void()> unavailable = {});
    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    bool isRegistered() const { return m_registration != nullptr; }

private:
    // Process-wide, as the registrations reach it without a reference to their HotKey: a second HotKey's
    // action replaces the first one's for both. Destruction leaves it; no registration remains to call it.
    static Action s_action;

    // Empty until registration succeeds.
    std::unique_ptr<GlobalShortcut> m_registration;
};
