#pragma once

#include <functional>
#include <memory>

class LoginItem;
class QWidget;

// The one settings window of the process: created on the first show, then only hidden and shown again, so
// it keeps its place and the form's state (an error under the login toggle, say). Main thread only.
class SettingsWindow final {
public:
    explicit SettingsWindow(std::unique_ptr<LoginItem> loginItem);
    ~SettingsWindow();

    // Brings the window to the front with the focus, building it first if needed. `openFolder` is the
    // form's action for the clips folder; only the first call's is kept, as the form is built once.
    void show(std::function<void()> openFolder);

    // The window, or nullptr before the first show.
    QWidget* window() const { return m_window.get(); }

    // Whether Ctrl+Alt+R works on this desktop; the Shortcut row says how to save otherwise.
    void setShortcutBound(bool bound);

private:
    std::unique_ptr<LoginItem> m_loginItem;
    bool m_shortcutBound = true;
    class SettingsView* m_view = nullptr; // lives in m_window
    std::unique_ptr<QWidget> m_window;    // after the login item: the form refers to it
};
