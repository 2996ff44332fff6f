#include "app/HotKey.h"

#include "base/Logging.h"
#include "platform/GlobalShortcut.h"

#include <QKeySequence>

HotKey::Action HotKey::s_action;

HotKey::HotKey(Qt::Key keyCode, Qt::KeyboardModifiers modifiers, Action action,
               std::unique_ptr<GlobalShortcut> platform, std::function<void()> unavailable) {
    s_action = std::move(action);
    if (!platform) return;
    const QString name = QKeySequence(QKeyCombination(modifiers, keyCode)).toString(QKeySequence::NativeText);
    const auto say = [name, unavailable](const Error& error) {
        qCWarning(lcApp).noquote() << QStringLiteral(
                                          "%1 is not bound on this desktop (%2). Bind ferrovane --save "
                                          "to a key in your desktop's keyboard settings.")
                                          .arg(name, error.message);
        if (unavailable) unavailable();
    };
    platform->setOnLost(say);
    const Status registered = platform->registerShortcut(QKeyCombination(modifiers, keyCode), [] {
        // A copy: the action may construct a HotKey, which replaces the slot's callback while it runs.
        if (Action action = s_action) action();
    });
    if (!registered) {
        say(registered.error());
        return;
    }
    m_registration = std::move(platform);
}

HotKey::~HotKey() = default;
