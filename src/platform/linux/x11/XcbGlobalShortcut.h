#pragma once

#include "platform/GlobalShortcut.h"
#include "platform/linux/x11/XcbConnection.h"

#include <QSocketNotifier>

#include <xcb/xcb_keysyms.h>

#include <memory>
#include <optional>
#include <vector>

// Passive grabs of the key on the root window of the X display named at construction (empty: $DISPLAY).
//
// The grabs live on a connection of their own, read through a QSocketNotifier, rather than on Qt's through
// a native event filter: a refused grab's error would reach Qt's connection and be printed there, the
// auto-repeat flag set below is per connection and would change the key events of Qt's own windows, and
// the shortcut works without a QGuiApplication on the xcb platform (tests run offscreen).
class XcbGlobalShortcut final : public GlobalShortcut {
public:
    explicit XcbGlobalShortcut(QString displayName);
    ~XcbGlobalShortcut() override;

    Status registerShortcut(QKeyCombination combination, Handler pressed) override;

private:
    struct FreeSymbols {
        void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
    };

    void useXkb();
    // Grabs every key that types the keysym, with the modifiers alone and with Lock and NumLock on; all of
    // them or none.
    Status grab();
    void ungrab();
    // After a layout switch or a change of the modifier map, the key or NumLock may sit elsewhere.
    void regrab();
    std::vector<xcb_keycode_t> keycodesOf(xcb_keysym_t keysym) const;
    // The modifier bit the key sets (NumLock: Mod2 in stock keymaps); 0 when it sets none.
    uint16_t modifierOfKey(xcb_keysym_t keysym) const;
    void readEvents();

    QString m_displayName;
    std::optional<XcbConnection> m_x;
    std::unique_ptr<xcb_key_symbols_t, FreeSymbols> m_symbols;
    std::unique_ptr<QSocketNotifier> m_notifier;
    uint8_t m_xkbFirstEvent = 0; // 0 without XKB
    QString m_name;              // the combination as the user reads it
    xcb_keysym_t m_keysym = 0;
    uint16_t m_modifiers = 0;
    Handler m_pressed;
    // What is grabbed now: each keycode with each modifier set. Empty when nothing is.
    std::vector<xcb_keycode_t> m_keycodes;
    std::vector<uint16_t> m_modifierSets;
    // The key down since the press that ran the handler; its auto-repeated presses do not run it again.
    xcb_keycode_t m_held = 0;
};
