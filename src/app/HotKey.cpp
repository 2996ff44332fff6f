#include "app/HotKey.h"

#include "platform/GlobalShortcut.h"
#include "platform/Logging.h"

HotKey::Action HotKey::s_action;

HotKey::HotKey(Qt::Key keyCode, Qt::KeyboardModifiers modifiers, Action action,
               std::unique_ptr<GlobalShortcut> platform) {
    s_action = std::move(action);
    if (!platform) return;
    const Status registered = platform->registerShortcut(QKeyCombination(modifiers, keyCode), [] {
        // A copy: the action may construct a HotKey, which replaces the slot's callback while it runs.
        if (Action action = s_action) action();
    });
    if (!registered) {
        qCWarning(lcApp) << "No global hot key:" << registered.error().description;
        return;
    }
    m_registration = std::move(platform);
}

HotKey::~HotKey() = default;
