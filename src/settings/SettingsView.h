#pragma once

#include <QWidget>

#include <functional>

class LoginItem;
class QCheckBox;
class QComboBox;
class QLabel;

// The settings form: three sections of controls and a footnote. Every control writes its preference into
// the settings store the moment the user changes it and shows what the store holds, unclamped: a stored
// value that matches no option selects none. The login toggle acts on the login item instead and keeps
// its own state, read once when the form is built. Main thread only.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int formWidth = 460;

    // `loginItem` must outlive the form; `openFolder` runs when the user asks for the clips folder.
    SettingsView(LoginItem& loginItem, std::function<void()> openFolder, QWidget* parent = nullptr);

    // Where the desktop has not bound Ctrl+Alt+R, the Shortcut row says how to save instead.
    void setShortcutBound(bool bound);

protected:
    void changeEvent(QEvent* event) override;

private:
    void showStoredValues();
    void setLaunchAtLogin(bool on);
    void colourLoginError();

    LoginItem& m_loginItem;
    std::function<void()> m_openFolder;
    QList<QComboBox*> m_pickers;
    QList<QCheckBox*> m_toggles;
    QCheckBox* m_launchAtLogin = nullptr;
    QLabel* m_loginError = nullptr;
    QLabel* m_shortcut = nullptr;
};
