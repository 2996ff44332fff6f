#include "notch/IconButton.h"
#include "notch/NotchController.h"
#include "notch/NotchPanel.h"
#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "platform/Screens.h"
#include "platform/linux/MonotonicClock.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QToolTip>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int screenWidth = 1512;
constexpr int screenHeight = 982;
// The pill of a screen without top panel: 184 x 24 at the top centre.
const QPoint pillCentre(screenWidth / 2, 10);
const QPoint faraway(100, 700);

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>")
            .arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

void movePointer(QPoint p) {
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
}

void click(QPoint p) {
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(p.x()),
                                    QString::number(p.y()), QStringLiteral("click"), QStringLiteral("1")});
}

// A plain window that notes where it was pressed.
class Underneath final : public QWidget {
public:
    QList<QPoint> presses;

protected:
    void mousePressEvent(QMouseEvent* event) override { presses << event->globalPosition().toPoint(); }
};

// Adds and deletes RandR monitors through a connection of its own, as a display being plugged and unplugged.
class Monitors {
public:
    Monitors()
        : m_connection(xcb_connect(nullptr, nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~Monitors() {
        for (const QByteArray& name : std::as_const(m_names))
            remove(name);
        xcb_disconnect(m_connection);
    }
    bool add(const QByteArray& name, QRect rect, bool primary) {
        xcb_randr_monitor_info_t info{};
        info.name = atom(name);
        info.primary = primary;
        info.x = int16_t(rect.x());
        info.y = int16_t(rect.y());
        info.width = uint16_t(rect.width());
        info.height = uint16_t(rect.height());
        info.width_in_millimeters = uint32_t(rect.width() / 4);
        info.height_in_millimeters = uint32_t(rect.height() / 4);
        // Sent by hand: libxcb 1.15's xcb_randr_set_monitor mis-sizes a monitor without outputs.
        xcb_randr_set_monitor_request_t request{};
        request.window = m_root;
        iovec parts[6]{};
        parts[2] = {&request, sizeof request};
        parts[4] = {&info, sizeof info};
        const xcb_protocol_request_t protocol{4, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        const xcb_void_cookie_t cookie{
            xcb_send_request(m_connection, XCB_REQUEST_CHECKED, parts + 2, &protocol)};
        xcb_generic_error_t* error = xcb_request_check(m_connection, cookie);
        std::free(error);
        if (!error) m_names << name;
        return !error;
    }
    void remove(const QByteArray& name) {
        std::free(xcb_request_check(m_connection,
                                    xcb_randr_delete_monitor_checked(m_connection, m_root, atom(name))));
        m_names.removeAll(name);
    }

private:
    xcb_atom_t atom(const QByteArray& name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    QList<QByteArray> m_names;
};

} // namespace

class NotchPanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_store = std::make_unique<FakePreferencesStore>();
        Settings::useStore(m_store.get());
        Settings::registerDefaults();
        movePointer(faraway);
        m_screens = createScreens();
        m_model = std::make_unique<ReplayModel>();
        m_model->setPhase(Phase::live());
        m_calls.clear();
    }
    void cleanup() {
        m_controller.reset();
        m_model.reset();
        m_screens.reset();
        Settings::useStore(nullptr);
    }

    void frameAtTheTopCentre() {
        start();
        // No top panel on this display: the substitute notch is 120 x 24, the panel 410 x 168.
        const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windowId()});
        QVERIFY2(info.contains(QStringLiteral("Absolute upper-left X:  551")), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("Absolute upper-left Y:  0")), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("Width: 410")), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("Height: 168")), qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("Map State: IsViewable")), qPrintable(info));
        // Unmanaged: no window manager moves it, puts it on one workspace or lists it in a taskbar.
        QVERIFY2(info.contains(QStringLiteral("Override Redirect State: yes")), qPrintable(info));
        const QString hints =
            run(QStringLiteral("xprop"), {QStringLiteral("-id"), windowId(), QStringLiteral("WM_HINTS")});
        QVERIFY2(hints.contains(QStringLiteral("input or input focus: False")), qPrintable(hints));
    }

    void pointerOpensWithinTwoPollsAndLeavingCloses() {
        start();
        auto* poll = m_controller->findChild<QTimer*>(QStringLiteral("pointerPoll"));
        QVERIFY(poll);
        QSignalSpy ticks(poll, &QTimer::timeout);
        movePointer(pillCentre);
        ticks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(m_model->expanded(), 2000);
        QVERIFY2(ticks.count() <= 2, qPrintable(QString::number(ticks.count())));
        QVERIFY(!m_controller->panel().ignoresMouseEvents());
        // Down onto the card: stays open.
        movePointer(pillCentre + QPoint(0, 100));
        QTest::qWait(200);
        QVERIFY(m_model->expanded());
        movePointer(faraway);
        ticks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->expanded(), 2000);
        QVERIFY2(ticks.count() <= 2, qPrintable(QString::number(ticks.count())));
        QVERIFY(m_controller->panel().ignoresMouseEvents());
    }

    void peekHoldsTheCardOpen() {
        start();
        QElapsedTimer clock;
        clock.start();
        m_controller->peek(6);
        QVERIFY(m_model->expanded());
        QTest::qWait(3000);
        QVERIFY(m_model->expanded());
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->expanded(), 8000);
        QVERIFY2(clock.elapsed() >= 6000, qPrintable(QString::number(clock.elapsed())));
    }

    void clicksPassThroughTheCollapsedPill() {
        Underneath below;
        below.setGeometry(screenWidth / 2 - 300, 0, 600, 250);
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below));
        start();
        // Hold the card shut so the pointer resting on the pill cannot open it.
        m_controller->findChild<QTimer*>(QStringLiteral("pointerPoll"))->stop();
        click(pillCentre);
        QTRY_COMPARE(below.presses.size(), 1);
        QCOMPARE(below.presses.front(), pillCentre);

        // Open, the card takes the click, and its buttons work.
        m_controller->peek(60);
        m_controller->panel().view().finishAnimations();
        QTest::qWait(100);
        click(pillCentre + QPoint(0, 60));
        auto* save = m_controller->panel().findChild<QAbstractButton*>(QStringLiteral("saveButton"));
        QVERIFY(save && save->isVisible());
        click(save->mapToGlobal(save->rect().center()));
        QTRY_COMPARE(m_calls, QStringList{QStringLiteral("save")});
        QCOMPARE(below.presses.size(), 1);
    }

    void hoverAndTooltipOnTheOpenCard() {
        start();
        m_controller->peek(60);
        m_controller->panel().view().finishAnimations();
        auto* gear = m_controller->panel().findChild<IconButton*>(QStringLiteral("settingsButton"));
        QVERIFY(gear && gear->isVisible());
        QVERIFY(!gear->hovering());
        movePointer(gear->mapToGlobal(gear->rect().center()));
        QTRY_VERIFY(gear->hovering());
        QCOMPARE(gear->backgroundOpacity(), 0.22);
        // The panel is never the active window, yet resting on the button shows its help.
        // A warp only enters; the tooltip waits for the pointer to move and then rest.
        movePointer(gear->mapToGlobal(gear->rect().center() + QPoint(2, 1)));
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 3000);
        QCOMPARE(QToolTip::text(), QStringLiteral("Settings"));
        movePointer(gear->mapToGlobal(QPoint(-40, 0)));
        QTRY_VERIFY(!gear->hovering());
    }

    void compositorMakesThePanelTranslucent() {
        start();
        NotchPanel& panel = m_controller->panel();
        QVERIFY(!panel.compositing());
        QVERIFY(!panel.mask().isEmpty());
        {
            // Play the compositing manager: own the selection it announces itself with.
            xcb_connection_t* c = xcb_connect(nullptr, nullptr);
            QVERIFY(c && !xcb_connection_has_error(c));
            xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
            const xcb_window_t owner = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                              XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
            const char* selection = "_NET_WM_CM_S0";
            xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, uint16_t(std::strlen(selection)), selection), nullptr);
            QVERIFY(atom);
            xcb_set_selection_owner(c, owner, atom->atom, XCB_CURRENT_TIME);
            std::free(atom);
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // round trip: applied
            m_controller->reposition();
            QVERIFY(panel.compositing());
            QVERIFY(panel.mask().isEmpty());
            QVERIFY(panel.view().shadowEnabled());
            xcb_disconnect(c); // the compositor quits
        }
        QTest::qWait(100);
        m_controller->reposition();
        QVERIFY(!panel.compositing());
        QVERIFY(!panel.mask().isEmpty());
    }

    void unpluggedScreenMovesThePanel() {
        Monitors monitors;
        QVERIFY(monitors.add("LEFT", QRect(0, 0, 756, screenHeight), false));
        QVERIFY(monitors.add("RIGHT", QRect(756, 0, 756, screenHeight), true));
        // Xvfb keeps the monitor of its own output beside the two.
        QTRY_COMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(756, 0, 756, screenHeight));
        const int screens = int(QGuiApplication::screens().size());
        start();
        // As the application controller does on every screen change.
        connect(m_screens.get(), &Screens::changed, m_controller.get(), &NotchController::reposition);
        QCOMPARE(m_controller->panel().geometry(), QRect(756 + 378 - 205, 0, 410, 168));
        m_controller->peek(60);
        monitors.remove("RIGHT");
        QTRY_COMPARE(int(QGuiApplication::screens().size()), screens - 1);
        // Now on whichever remaining screen is the main one, centred at its top.
        const QRect main = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(main != QRect(756, 0, 756, screenHeight));
        QTRY_COMPARE(m_controller->panel().geometry(),
                     QRect(main.center().x() + 1 - 205, main.y(), 410, 168));
        QCOMPARE(m_model->geometry().screenFrame.width(), double(main.width()));
        QVERIFY(m_controller->panel().isVisible());
    }

private:
    void start() {
        auto record = [this](const char* name) {
            return [this, name] { m_calls << QString::fromLatin1(name); };
        };
        const NotchActions actions{
            record("save"),   record("copy"),        record("handoff"),      record("openClip"),
            record("reveal"), record("togglePause"), record("openSettings"), record("openPrivacySettings"),
            record("retry")};
        m_controller = std::make_unique<NotchController>(*m_model, actions, *m_screens, m_clock);
        QVERIFY(QTest::qWaitForWindowExposed(&m_controller->panel()));
    }
    QString windowId() const { return QString::number(m_controller->panel().winId()); }

    std::unique_ptr<FakePreferencesStore> m_store;
    std::unique_ptr<Screens> m_screens;
    std::unique_ptr<ReplayModel> m_model;
    MonotonicClock m_clock;
    std::unique_ptr<NotchController> m_controller;
    QStringList m_calls;
};

// The panel needs a real X server: start a private one before the application connects.
int main(int argc, char** argv) {
    TestEnvironment environment;
    Xvfb xvfb;
    if (!xvfb.start(QSize(screenWidth, screenHeight))) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    NotchPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchpanel.moc"
