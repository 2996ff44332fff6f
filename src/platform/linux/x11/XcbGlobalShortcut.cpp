#include "platform/linux/x11/XcbGlobalShortcut.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QThread>

// libxcb 1.15's xkb.h names a struct field `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>

namespace {

constexpr xcb_keysym_t numLockKeysym = 0xff7f; // XK_Num_Lock

// Latin-1 keysyms equal their code points. Qt names a letter key by its capital, the keymap's first
// column by the lower case the key types unshifted.
std::optional<xcb_keysym_t> keysymFor(Qt::Key key) {
    if (key < 0x20 || key > 0xff) return std::nullopt;
    return QChar(char16_t(key)).toLower().unicode();
}

// Alt and Super sit on Mod1 and Mod4 in every stock keymap; other desktop tools grab them there too.
std::optional<uint16_t> modifierMaskFor(Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers known =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (modifiers & ~known) return std::nullopt;
    uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier) mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier) mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier) mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier) mask |= XCB_MOD_MASK_4;
    return mask;
}

} // namespace

XcbGlobalShortcut::XcbGlobalShortcut(QString displayName)
    : m_displayName(std::move(displayName)) {}

XcbGlobalShortcut::~XcbGlobalShortcut() {
    // Closing the connection would release the grabs too, but only once the server notices.
    if (m_x) ungrab();
}

Status XcbGlobalShortcut::registerShortcut(QKeyCombination combination, Handler pressed) {
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    Q_ASSERT(!m_x);
    m_name = QKeySequence(combination).toString(QKeySequence::PortableText);
    const std::optional<xcb_keysym_t> keysym = keysymFor(combination.key());
    const std::optional<uint16_t> modifiers = modifierMaskFor(combination.keyboardModifiers());
    if (!keysym || !modifiers)
        return platformError(QStringLiteral("%1 cannot be a shortcut on X11.").arg(m_name));
    Result<XcbConnection> opened = XcbConnection::open(m_displayName);
    if (!opened) return opened.error();
    m_x.emplace(opened.take());
    m_keysym = *keysym;
    m_modifiers = *modifiers;
    m_pressed = std::move(pressed);
    m_symbols.reset(xcb_key_symbols_alloc(m_x->get()));
    useXkb();
    if (Status grabbed = grab(); !grabbed) {
        m_symbols.reset();
        m_x.reset();
        return grabbed;
    }
    m_notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_x->get()), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { readEvents(); });
    // The round trips above may have read a press into xcb's queue, where the notifier does not see it.
    QMetaObject::invokeMethod(
        m_notifier.get(), [this] { readEvents(); }, Qt::QueuedConnection);
    return Ok{};
}

void XcbGlobalShortcut::useXkb() {
    xcb_connection_t* c = m_x->get();
    const xcb_query_extension_reply_t* xkb = m_x->extension(&xcb_xkb_id);
    if (!xkb) return;
    auto use = xcbReply(c, xcb_xkb_use_extension_reply,
                        xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION));
    if (!use || !use->supported) return;
    // A held key repeats as press after press with no release between, so the press that starts the
    // repeat is told from a new one exactly. Without XKB (no server in use lacks it) every repeat counts.
    const uint32_t detectable = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    xcbReply(c, xcb_xkb_per_client_flags_reply,
             xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, detectable, detectable, 0, 0, 0));
    // A client that turned XKB on no longer gets the core MappingNotify of a layout switch.
    const uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    const uint16_t parts = XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
    xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts, nullptr);
    m_xkbFirstEvent = xkb->first_event;
}

Status XcbGlobalShortcut::grab() {
    xcb_connection_t* c = m_x->get();
    m_keycodes = keycodesOf(m_keysym);
    if (m_keycodes.empty())
        return platformError(QStringLiteral("No key of the keyboard types %1.").arg(m_name));
    // The grab matches the modifier state exactly, so a shortcut with CapsLock or NumLock on is another
    // grab. NumLock is whichever modifier the NumLock key sets, Mod2 in stock keymaps.
    m_modifierSets = {m_modifiers, uint16_t(m_modifiers | XCB_MOD_MASK_LOCK)};
    if (const uint16_t numLock = modifierOfKey(numLockKeysym); numLock && !(numLock & m_modifiers))
        m_modifierSets.insert(m_modifierSets.end(), {uint16_t(m_modifiers | numLock),
                                                     uint16_t(m_modifiers | numLock | XCB_MOD_MASK_LOCK)});
    std::vector<xcb_void_cookie_t> requests;
    for (xcb_keycode_t keycode : m_keycodes)
        for (uint16_t modifiers : m_modifierSets)
            requests.push_back(xcb_grab_key_checked(c, 0, m_x->root(), modifiers, keycode,
                                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    // Every reply is checked, so no refusal is left over to reach the event queue.
    const auto refused = std::count_if(requests.begin(), requests.end(),
                                       [c](xcb_void_cookie_t request) { return !xcbSucceeded(c, request); });
    if (refused == 0) return Ok{};
    // Releases only this client's grabs; the other program keeps its own.
    ungrab();
    return platformError(QStringLiteral("%1 is already in use by another program.").arg(m_name));
}

void XcbGlobalShortcut::ungrab() {
    for (xcb_keycode_t keycode : m_keycodes)
        for (uint16_t modifiers : m_modifierSets)
            xcb_ungrab_key(m_x->get(), keycode, m_x->root(), modifiers);
    // A round trip, so the combination is free for the next client as soon as this returns.
    xcbReply(m_x->get(), xcb_get_input_focus_reply, xcb_get_input_focus(m_x->get()));
    m_keycodes.clear();
    m_modifierSets.clear();
}

void XcbGlobalShortcut::regrab() {
    ungrab();
    m_symbols.reset(xcb_key_symbols_alloc(m_x->get()));
    // Refused now that the keys moved: silent, as at registration.
    grab();
}

std::vector<xcb_keycode_t> XcbGlobalShortcut::keycodesOf(xcb_keysym_t keysym) const {
    std::vector<xcb_keycode_t> keycodes;
    XcbReply<xcb_keycode_t> found(xcb_key_symbols_get_keycode(m_symbols.get(), keysym));
    for (const xcb_keycode_t* k = found.get(); k && *k != XCB_NO_SYMBOL; ++k)
        keycodes.push_back(*k);
    return keycodes;
}

uint16_t XcbGlobalShortcut::modifierOfKey(xcb_keysym_t keysym) const {
    xcb_connection_t* c = m_x->get();
    auto map = xcbReply(c, xcb_get_modifier_mapping_reply, xcb_get_modifier_mapping(c));
    if (!map) return 0;
    const std::vector<xcb_keycode_t> keys = keycodesOf(keysym);
    const xcb_keycode_t* table = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier)
        for (int i = 0; i < perModifier; ++i)
            if (std::find(keys.begin(), keys.end(), table[modifier * perModifier + i]) != keys.end())
                return uint16_t(1u << modifier);
    return 0;
}

void XcbGlobalShortcut::readEvents() {
    xcb_connection_t* c = m_x->get();
    bool remap = true;
    while (remap) {
        remap = false;
        while (XcbEvent event{xcb_poll_for_event(c)}) {
            const uint8_t type = event->response_type & 0x7f;
            // Only this connection's grabs deliver keys to it.
            if (type == XCB_KEY_PRESS) {
                const xcb_keycode_t key = reinterpret_cast<xcb_key_press_event_t*>(event.get())->detail;
                if (key == m_held) continue;
                m_held = key;
                // Queued, so a handler that destroys this object does so outside the loop reading its
                // connection; the call is dropped with the notifier if this object goes first.
                QMetaObject::invokeMethod(m_notifier.get(), m_pressed, Qt::QueuedConnection);
            } else if (type == XCB_KEY_RELEASE) {
                if (reinterpret_cast<xcb_key_release_event_t*>(event.get())->detail == m_held) m_held = 0;
            } else if ((m_xkbFirstEvent && type == m_xkbFirstEvent) ||
                       (type == XCB_MAPPING_NOTIFY &&
                        reinterpret_cast<xcb_mapping_notify_event_t*>(event.get())->request !=
                            XCB_MAPPING_POINTER)) {
                // Changes come in bursts (a layout switch sends several); one regrab after the burst.
                remap = true;
            }
        }
        // Its round trips may queue more events, so read again.
        if (remap) regrab();
    }
    // A lost connection keeps the socket readable; stop listening rather than spin.
    if (m_x->hasError()) m_notifier->setEnabled(false);
}
