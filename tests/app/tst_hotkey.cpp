#include "app/HotKey.h"
#include "platform/GlobalShortcut.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/x11/XcbConnection.h"

#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QProcess>

#include <algorithm>
#include <optional>

namespace {

const QString tap = QStringLiteral("xdotool key ctrl+alt+r");
const QString hold = QStringLiteral("xdotool keydown ctrl+alt+r sleep 1 keyup ctrl+alt+r");

bool run(const QString& command) {
    QStringList words = QProcess::splitCommand(command);
    return QProcess::execute(words.takeFirst(), words) == 0;
}

// Xvfb's keymap (evdev, us) has R on keycode 27 and NumLock on Mod2.
constexpr xcb_keycode_t r = 27;
constexpr uint16_t numLock = XCB_MOD_MASK_2;

// Another program on the display that wants Ctrl+Alt+R too.
struct OtherClient {
    XcbConnection x = XcbConnection::open(QString()).take();

    // Ctrl+Alt+R with each of the lock sets added; true when every grab was granted.
    bool grab(std::initializer_list<uint16_t> lockSets) {
        return std::ranges::all_of(lockSets, [this](uint16_t locks) {
            return xcbSucceeded(x.get(), xcb_grab_key_checked(x.get(), 0, x.root(),
                                                              XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | locks,
                                                              r, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        });
    }
    // Key presses its grabs brought it so far.
    int presses() {
        // A round trip: whatever the server sent before its reply has arrived.
        xcbReply(x.get(), xcb_get_input_focus_reply, xcb_get_input_focus(x.get()));
        int presses = 0;
        while (XcbEvent event{xcb_poll_for_event(x.get())})
            presses += (event->response_type & 0x7f) == XCB_KEY_PRESS;
        return presses;
    }
};

} // namespace

class TestHotKey : public QObject {
    Q_OBJECT

    std::optional<Xvfb> m_xvfb;
    int m_calls = 0;

    std::unique_ptr<HotKey> hotKey(std::function<void()> unavailable = {}) {
        return std::make_unique<HotKey>(
            Qt::Key_R, Qt::ControlModifier | Qt::AltModifier, [this] { ++m_calls; }, createGlobalShortcut(),
            std::move(unavailable));
    }

private slots:
    // A server of its own for each case, so lock and keymap changes do not carry over.
    void init() {
        m_calls = 0;
        QVERIFY(m_xvfb.emplace().start(QSize(320, 240)));
        // A held key repeats after 200 ms, 30 times a second.
        QVERIFY(run(QStringLiteral("xset r rate 200 30")));
    }
    void cleanup() { m_xvfb.reset(); }

    void presses_data() {
        QTest::addColumn<QString>("commands"); // separated by "; "
        QTest::addColumn<int>("calls");
        QTest::newRow("ctrl+alt+r") << tap << 1;
        QTest::newRow("shift added") << "xdotool key ctrl+alt+shift+r" << 0;
        QTest::newRow("ctrl only") << "xdotool key ctrl+r" << 0;
        QTest::newRow("alt only") << "xdotool key alt+r" << 0;
        QTest::newRow("num lock on") << "xdotool key Num_Lock ctrl+alt+r" << 1;
        QTest::newRow("caps lock on") << "xdotool key Caps_Lock ctrl+alt+r" << 1;
        QTest::newRow("both locks on") << "xdotool key Num_Lock Caps_Lock ctrl+alt+r" << 1;
        // The server repeats it (see takenCombination); a repeat is not a new press.
        QTest::newRow("held") << hold << 1;
        QTest::newRow("dvorak") << "setxkbmap dvorak; " + tap << 1;
        QTest::newRow("num lock on mod3")
            << R"(xmodmap -e "clear mod2" -e "add mod3 = Num_Lock"; xdotool key Num_Lock ctrl+alt+r)" << 1;
    }
    void presses() {
        QFETCH(QString, commands);
        QFETCH(int, calls);
        std::unique_ptr<HotKey> key = hotKey();
        QVERIFY(key->isRegistered());
        for (const QString& command : commands.split(QStringLiteral("; "))) {
            QVERIFY2(run(command), qPrintable(command));
            // The shortcut follows a keymap change once it has read it.
            QTest::qWait(50);
        }
        // One press more that must call: keys arrive in order, so once it has, every earlier one has too.
        QVERIFY(run(tap));
        QTRY_COMPARE(m_calls, calls + 1);
        QTest::qWait(100);
        QCOMPARE(m_calls, calls + 1);
        // Destroying it gives every grab back.
        key.reset();
        QVERIFY(OtherClient().grab({0, XCB_MOD_MASK_LOCK, numLock, XCB_MOD_MASK_LOCK | numLock}));
    }

    void takenCombination() {
        OtherClient other;
        // Only the plain combination: the grabs with the locks on would succeed by themselves.
        QVERIFY(other.grab({0}));
        int unavailable = 0;
        const auto key = hotKey([&] { ++unavailable; });
        QVERIFY(!key->isRegistered());
        QCOMPARE(unavailable, 1); // the panel, menu and settings then name no key
        QVERIFY(run(hold));
        QCOMPARE_GT(other.presses(), 5);
        QTest::qWait(100);
        QCOMPARE(m_calls, 0);
        // All or nothing: none of the grabs the shortcut was granted is left.
        QVERIFY(other.grab({XCB_MOD_MASK_LOCK, numLock, XCB_MOD_MASK_LOCK | numLock}));
    }
};

FERROVANE_TEST_MAIN(TestHotKey)
#include "tst_hotkey.moc"
