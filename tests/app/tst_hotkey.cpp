#include "app/HotKey.h"
#include "platform/GlobalShortcut.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/x11/XcbConnection.h"

#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QProcess>
#include <QScopeGuard>

#include <optional>

namespace {

const QString tap = QStringLiteral("xdotool key ctrl+alt+r");
const QString hold = QStringLiteral("xdotool keydown ctrl+alt+r sleep 1 keyup ctrl+alt+r");

// Runs commands separated by "; " one after the other; true when all succeeded.
bool run(const QString& commands) {
    for (const QString& command : commands.split(QStringLiteral("; "))) {
        const QStringList words = QProcess::splitCommand(command);
        QProcess process;
        process.start(words.first(), words.mid(1));
        if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            return false;
    }
    return true;
}

// Xvfb's keymap (evdev, us) has R on keycode 27 and NumLock on Mod2.
constexpr xcb_keycode_t r = 27;
constexpr uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr uint16_t numLock = XCB_MOD_MASK_2;

// Another program on the display: one that wants Ctrl+Alt+R too, or a window with the focus.
class OtherClient {
public:
    OtherClient()
        : m_x(XcbConnection::open(QString()).take()) {}
    // Ctrl+Alt+R with each of the lock sets added; true when every grab was granted.
    bool grab(std::initializer_list<uint16_t> lockSets) {
        for (uint16_t locks : lockSets)
            if (!xcbSucceeded(c(), xcb_grab_key_checked(c(), 0, m_x.root(), ctrlAlt | locks, r,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)))
                return false;
        return true;
    }
    // Presses of R delivered to this client so far.
    int pressesOfR() {
        // A round trip: whatever the server sent before its reply has arrived.
        xcbReply(c(), xcb_get_input_focus_reply, xcb_get_input_focus(c()));
        int presses = 0;
        while (XcbEvent event{xcb_poll_for_event(c())})
            presses += (event->response_type & 0x7f) == XCB_KEY_PRESS &&
                       reinterpret_cast<xcb_key_press_event_t*>(event.get())->detail == r;
        return presses;
    }
    // What a window with the focus sees of `hold`: the press and the server's repeats.
    int pressesOfRWhileHeld() {
        auto grabbed = xcbReply(c(), xcb_grab_keyboard_reply,
                                xcb_grab_keyboard(c(), 0, m_x.root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                                  XCB_GRAB_MODE_ASYNC));
        const int presses =
            grabbed && grabbed->status == XCB_GRAB_STATUS_SUCCESS && run(hold) ? pressesOfR() : -1;
        xcbSucceeded(c(), xcb_ungrab_keyboard_checked(c(), XCB_CURRENT_TIME));
        return presses;
    }

private:
    xcb_connection_t* c() const { return m_x.get(); }
    XcbConnection m_x;
};

// Anything printed through Qt's logging; xcb itself prints nothing.
QStringList g_messages;

} // namespace

class TestHotKey : public QObject {
    Q_OBJECT

    std::optional<Xvfb> m_xvfb;
    int m_calls = 0;

    std::unique_ptr<HotKey> hotKey() {
        return std::make_unique<HotKey>(
            Qt::Key_R, Qt::ControlModifier | Qt::AltModifier, [this] { ++m_calls; }, createGlobalShortcut());
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
        QTest::addColumn<QString>("commands");
        QTest::addColumn<int>("calls");
        QTest::newRow("ctrl+alt+r") << tap << 1;
        QTest::newRow("twice") << tap + "; " + tap << 2;
        QTest::newRow("shift added") << "xdotool key ctrl+alt+shift+r" << 0;
        QTest::newRow("ctrl only") << "xdotool key ctrl+r" << 0;
        QTest::newRow("alt only") << "xdotool key alt+r" << 0;
        QTest::newRow("num lock on") << "xdotool key Num_Lock; " + tap << 1;
        QTest::newRow("caps lock on") << "xdotool key Caps_Lock; " + tap << 1;
        QTest::newRow("both locks on") << "xdotool key Num_Lock Caps_Lock; " + tap << 1;
        QTest::newRow("held") << hold << 1;
        // The repeats outlive Ctrl; a release the shortcut missed would swallow the next press.
        QTest::newRow("ctrl let go first")
            << QStringLiteral("xdotool keydown ctrl+alt+r sleep 1 keyup ctrl sleep 0.3 keyup alt+r") << 1;
        QTest::newRow("layout switched") << "setxkbmap dvorak; " + tap << 1;
        QTest::newRow("num lock moved to mod3")
            << R"(xmodmap -e "clear mod2" -e "add mod3 = Num_Lock"; xdotool key Num_Lock; )" + tap << 1;
    }
    void presses() {
        QFETCH(QString, commands);
        QFETCH(int, calls);
        if (commands.contains(QStringLiteral("keydown")))
            QVERIFY2(OtherClient().pressesOfRWhileHeld() > 5, "the server does not repeat a held key");
        const std::unique_ptr<HotKey> key = hotKey();
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
    }

    void takenCombinationIsSilent() {
        OtherClient other;
        // Only the plain combination: the grabs with the locks on would succeed by themselves.
        QVERIFY(other.grab({0}));
        g_messages.clear();
        const QtMessageHandler testsOwn = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { g_messages << text; });
        const auto restore = qScopeGuard([testsOwn] { qInstallMessageHandler(testsOwn); });
        const std::unique_ptr<HotKey> key = hotKey();
        QVERIFY(!key->isRegistered());
        QVERIFY(run(tap));
        QCOMPARE(other.pressesOfR(), 1);
        QTest::qWait(100);
        QCOMPARE(m_calls, 0);
        // All or nothing: none of the grabs the shortcut was granted is left.
        QVERIFY(other.grab({XCB_MOD_MASK_LOCK, numLock, XCB_MOD_MASK_LOCK | numLock}));
        QCOMPARE(g_messages, QStringList());
    }

    void destroyingEndsTheShortcut() {
        std::unique_ptr<HotKey> key = hotKey();
        QVERIFY(run(tap));
        QTRY_COMPARE(m_calls, 1);
        key.reset();
        OtherClient other;
        QVERIFY(other.grab({0, XCB_MOD_MASK_LOCK, numLock, XCB_MOD_MASK_LOCK | numLock}));
        QVERIFY(run(tap));
        QCOMPARE(other.pressesOfR(), 1);
        QTest::qWait(100);
        QCOMPARE(m_calls, 1);
    }
};

FERROVANE_TEST_MAIN(TestHotKey)
#include "tst_hotkey.moc"
