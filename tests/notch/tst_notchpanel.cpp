#include "notch/NotchController.h"
#include "notch/NotchPanel.h"
#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/capture/MonotonicClock.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QAbstractButton>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace {

constexpr int screenWidth = 1512;
constexpr int screenHeight = 982;
// The pill of a screen without top panel: 184 x 24 at the top centre.
const QPoint pillCentre(screenWidth / 2, 10);
const QPoint faraway(100, 700);

// How the pointer gets somewhere: moved by an input device (XTest fakes one), or warped by a program,
// which the devices' raw motion does not report.
enum class Move { Device, Warp };

// Moves the pointer to `p` and, when asked, clicks there as a device would.
void movePointer(Move how, QPoint p, bool click = false) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    if (how == Move::Device)
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, int16_t(p.x()), int16_t(p.y()),
                            0);
    else
        xcb_warp_pointer(c, XCB_NONE, root, 0, 0, 0, 0, int16_t(p.x()), int16_t(p.y()));
    for (const uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE})
        if (click) xcb_test_fake_input(c, type, 1, XCB_CURRENT_TIME, root, 0, 0, 0);
    // A round trip: the server has moved the pointer before this returns.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

// A plain window that notes where it was pressed.
class Underneath final : public QWidget {
public:
    QList<QPoint> presses;

protected:
    void mousePressEvent(QMouseEvent* event) override { presses << event->globalPosition().toPoint(); }
};

} // namespace

class NotchPanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() { movePointer(Move::Warp, faraway); }
    void cleanup() { m_controller.reset(); }

    void pointerOpensAndLeavingCloses_data() {
        QTest::addColumn<Move>("how");
        QTest::addColumn<int>("maxPolls");
        QTest::newRow("moved by a device: within two polls") << Move::Device << 2;
        // A resting pointer is asked for once a second.
        QTest::newRow("warped: within a second") << Move::Warp << 22;
    }
    void pointerOpensAndLeavingCloses() {
        QFETCH(Move, how);
        QFETCH(int, maxPolls);
        start();
        QSignalSpy ticks(m_controller->findChild<QTimer*>(QStringLiteral("pointerPoll")), &QTimer::timeout);
        // Let the poll see the pointer at rest first.
        QTest::qWait(200);
        for (const bool open : {true, false}) {
            movePointer(how, open ? pillCentre : faraway);
            ticks.clear();
            QTRY_VERIFY_WITH_TIMEOUT(m_model->expanded() == open, 3000);
            QVERIFY2(ticks.count() <= maxPolls, qPrintable(QString::number(ticks.count())));
        }
    }

    // Collapsed, the panel sits at the top centre and lets clicks through to the window below.
    void collapsedPanelPassesClicksThrough() {
        Underneath below;
        below.setGeometry(screenWidth / 2 - 300, 0, 600, 250);
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below));
        start();
        // No top panel on this display: the substitute notch is 120 x 24, the panel 410 x 168.
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const auto id = xcb_window_t(m_controller->panel().winId());
        auto* frame = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
        auto* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
        const QRect placed(frame->x, frame->y, frame->width, frame->height);
        const bool overlay = attributes->override_redirect && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(frame);
        std::free(attributes);
        xcb_disconnect(c);
        QCOMPARE(placed, QRect(551, 0, 410, 168));
        QVERIFY(overlay);
        // Hold the card shut so the pointer resting on the pill cannot open it.
        m_controller->findChild<QTimer*>(QStringLiteral("pointerPoll"))->stop();
        movePointer(Move::Device, pillCentre, true);
        QTRY_COMPARE(below.presses.size(), 1);
        QCOMPARE(below.presses.front(), pillCentre);
        // Open, the card takes the click.
        m_controller->peek(60);
        m_controller->panel().view().finishAnimations();
        QTest::qWait(100);
        auto* save = m_controller->panel().findChild<QAbstractButton*>(QStringLiteral("saveButton"));
        movePointer(Move::Device, save->mapToGlobal(save->rect().center()), true);
        QTRY_COMPARE(m_saves, 1);
        QCOMPARE(below.presses.size(), 1);
    }

private:
    // Fresh screens and a live model for each case, made once the pointer is far from the panel.
    void start() {
        m_screens = createScreens();
        m_model.emplace().setPhase(Phase::live());
        m_saves = 0;
        NotchActions actions;
        actions.save = [this] { ++m_saves; };
        m_controller = std::make_unique<NotchController>(*m_model, actions, *m_screens, m_clock);
        QVERIFY(QTest::qWaitForWindowExposed(&m_controller->panel()));
    }

    FakeSettings m_settings; // read, never written
    std::unique_ptr<Screens> m_screens;
    std::optional<ReplayModel> m_model;
    MonotonicClock m_clock;
    std::unique_ptr<NotchController> m_controller;
    int m_saves = 0;
};

FERROVANE_X11_TEST_MAIN(NotchPanelTest, QSize(screenWidth, screenHeight), prepareWindowSystem())

#include "tst_notchpanel.moc"
