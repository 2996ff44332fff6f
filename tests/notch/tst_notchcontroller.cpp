#include "notch/NotchAnimation.h"
#include "notch/NotchController.h"
#include "notch/NotchGeometry.h"
#include "notch/NotchPanel.h"
#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "settings/Settings.h"

#include "FakeScreens.h"
#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTimer>

namespace {

const QRectF laptop(0, 0, 1512, 982);
const NotchGeometry notch180(laptop, 180, 32, true);

// Well inside the pill of a 1512 x 982 screen, and far from the card.
const QPointF onPill(756, 970);
const QPointF faraway(100, 100);

// Lets the pointer poll run `count` more times, however long that takes on a busy machine. The spy is
// connected after the controller, so when it counts a tick that tick's work is done.
bool waitForPolls(const NotchController& controller, int count) {
    QSignalSpy ticks(controller.findChild<QTimer*>(QStringLiteral("pointerPoll")), &QTimer::timeout);
    return ticks.wait(5000) && (count <= 1 || QTest::qWaitFor([&] { return ticks.count() >= count; }, 5000));
}

} // namespace

class NotchControllerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The offscreen platform cannot shape or raise windows and says so each time; X11 tests cover those.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.startsWith(QLatin1String("This plugin does not support")))
                    previous(type, context, text);
            });
    }

    void init() {
        m_store = std::make_unique<FakePreferencesStore>();
        Settings::useStore(m_store.get());
        Settings::registerDefaults();
        m_screens = std::make_unique<FakeScreens>();
        m_screens->list = {FakeScreens::notched(laptop, 32, 666, 666)};
        m_screens->mainIndex = 0;
        m_screens->baseline = 982;
        m_screens->pointer = faraway;
        m_clock.set(1000);
        m_model = std::make_unique<ReplayModel>();
    }
    void cleanup() {
        m_model.reset();
        m_screens.reset();
        Settings::useStore(nullptr);
    }

    void rectanglesOfTheExample() {
        QCOMPARE(NotchController::openRect(notch180), QRectF(628, 946, 256, 36));
        QCOMPARE(NotchController::keepOpenRect(notch180), QRectF(551, 816, 410, 166));
        QCOMPARE(NotchController::panelFrame(notch180), QRectF(551, 806, 410, 176));
    }

    void constructionMeasuresAndPlaces() {
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        QVERIFY(m_model->geometry() == notch180);
        // The panel's top edge is the screen's top edge (window-system y 0), centred.
        QCOMPARE(controller.panel().geometry(), QRect(551, 0, 410, 176));
        QVERIFY(controller.panel().isVisible());
        QVERIFY(controller.panel().ignoresMouseEvents());
        QCOMPARE(controller.panel().view().geometry(), QRect(0, 0, 410, 176));
    }

    // The point test counts the minimum edges as inside and the maximum edges as outside.
    void pointerOpensOnlyInsideTheOpenRect_data() {
        QTest::addColumn<QPointF>("pointer");
        QTest::addColumn<bool>("opens");
        QTest::newRow("pill centre") << onPill << true;
        QTest::newRow("minimum corner") << QPointF(628, 946) << true;
        QTest::newRow("right edge is outside") << QPointF(884, 960) << false;
        QTest::newRow("top edge is outside") << QPointF(700, 982) << false;
        QTest::newRow("just below") << QPointF(700, 945.9) << false;
        QTest::newRow("just left") << QPointF(627.9, 960) << false;
        QTest::newRow("far away") << faraway << false;
    }
    void pointerOpensOnlyInsideTheOpenRect() {
        QFETCH(QPointF, pointer);
        QFETCH(bool, opens);
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        m_screens->pointer = pointer;
        QVERIFY(waitForPolls(controller, 2));
        QCOMPARE(m_model->expanded(), opens);
        QCOMPARE(controller.panel().ignoresMouseEvents(), !opens);
    }

    void restingPointerNeverToggles() {
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        QSignalSpy changes(m_model.get(), &ReplayModel::expandedChanged);
        m_screens->pointer = onPill;
        QVERIFY(waitForPolls(controller, 2));
        QCOMPARE(changes.count(), 1);
        QVERIFY(waitForPolls(controller, 5));
        QCOMPARE(changes.count(), 1);
        // Onto the card and around inside the keep-open rectangle: still open.
        for (QPointF p : {QPointF(551, 816), QPointF(960.9, 900), QPointF(756, 820)}) {
            m_screens->pointer = p;
            QVERIFY(waitForPolls(controller, 2));
        }
        QCOMPARE(changes.count(), 1);
        m_screens->pointer = QPointF(756, 815.9); // below the keep-open rectangle
        QVERIFY(waitForPolls(controller, 2));
        QVERIFY(!m_model->expanded());
        QVERIFY(controller.panel().ignoresMouseEvents());
        QCOMPARE(changes.count(), 2);
    }

    void peekPinsTheCard_data() {
        QTest::addColumn<double>("seconds");
        QTest::newRow("6 s") << 6.0;
        QTest::newRow("default 4 s") << -1.0;
    }
    void peekPinsTheCard() {
        QFETCH(double, seconds);
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        if (seconds < 0) {
            controller.peek();
            seconds = 4;
        } else {
            controller.peek(seconds);
        }
        QVERIFY(m_model->expanded());
        QVERIFY(!controller.panel().ignoresMouseEvents());
        m_clock.advance(seconds - 0.1);
        QVERIFY(waitForPolls(controller, 2));
        QVERIFY(m_model->expanded());
        m_clock.advance(0.2);
        QVERIFY(waitForPolls(controller, 1));
        QVERIFY(!m_model->expanded());
    }

    void peekWhileOpenOnlyMovesThePin() {
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        controller.peek(10);
        QSignalSpy changes(m_model.get(), &ReplayModel::expandedChanged);
        controller.peek(1); // a shorter pin replaces the longer one
        QCOMPARE(changes.count(), 0);
        m_clock.advance(1.5);
        QVERIFY(waitForPolls(controller, 1));
        QVERIFY(!m_model->expanded());
    }

    void expiredPinWithPointerOnCardStaysOpen() {
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        controller.peek(2);
        m_screens->pointer = QPointF(756, 900);
        m_clock.advance(5);
        QVERIFY(waitForPolls(controller, 2));
        QVERIFY(m_model->expanded());
    }

    void flashLightsAndResets() {
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        QSignalSpy flashes(m_model.get(), &ReplayModel::flashChanged);
        controller.flash();
        QCOMPARE(m_model->flash(), true);
        controller.flash(); // within 0.12 s: true again, and a reset of its own
        QTRY_COMPARE(m_model->flash(), false);
        QTest::qWait(NotchAnimation::flashHoldMs * 2);
        QCOMPARE(m_model->flash(), false);
        // One rise and one fall: the second flash found it still lit, and the second reset found it dark.
        QCOMPARE(flashes.count(), 2);
    }

    void flashResetAfterTheControllerIsGone() {
        auto controller = std::make_unique<NotchController>(*m_model, NotchActions{}, *m_screens, m_clock);
        controller->flash();
        controller.reset();
        QTest::qWait(NotchAnimation::flashHoldMs * 2);
        QCOMPARE(m_model->flash(), true);
    }

    void repositionFollowsScreenChanges_data() {
        QTest::addColumn<std::vector<ScreenInfo>>("screens");
        QTest::addColumn<std::optional<int>>("mainIndex");
        QTest::addColumn<double>("baseline");
        QTest::addColumn<NotchGeometry>("geometry");
        QTest::addColumn<QRect>("panel");
        const QRectF big(0, 0, 2560, 1440);
        QTest::newRow("notched screen gone: the remaining one with a 27-point panel")
            << std::vector<ScreenInfo>{FakeScreens::plain(big, 27)} << std::optional<int>(0) << 1440.0
            << NotchGeometry(big, 120, 27, false) << QRect(1075, 0, 410, 171);
        QTest::newRow("every screen gone: defaults") << std::vector<ScreenInfo>{} << std::optional<int>()
                                                     << 0.0 << NotchGeometry() << QRect(-205, 0, 410, 176);
        QTest::newRow("second screen left of the laptop")
            << std::vector<ScreenInfo>{FakeScreens::plain(QRectF(-1920, 0, 1920, 1080), 30),
                                       FakeScreens::notched(laptop, 32, 666, 666)}
            << std::optional<int>(0) << 982.0 << notch180 << QRect(551, 0, 410, 176);
    }
    void repositionFollowsScreenChanges() {
        QFETCH(std::vector<ScreenInfo>, screens);
        QFETCH(std::optional<int>, mainIndex);
        QFETCH(double, baseline);
        QFETCH(NotchGeometry, geometry);
        QFETCH(QRect, panel);
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        m_screens->list = screens;
        m_screens->mainIndex = mainIndex;
        m_screens->baseline = baseline;
        controller.reposition();
        QVERIFY(m_model->geometry() == geometry);
        QCOMPARE(controller.panel().geometry(), panel);
        QCOMPARE(controller.panel().view().size(), panel.size());
    }

    void compositingDecidesBetweenShadowAndShape() {
        NotchController controller(*m_model, NotchActions{}, *m_screens, m_clock);
        NotchPanel& panel = controller.panel();
        QVERIFY(!panel.compositing());
        QVERIFY(!panel.view().shadowEnabled());
        // Shaped to the pill: its centre is in, the shadow margin below it is out.
        QVERIFY(panel.mask().contains(QPoint(205, 16)));
        QVERIFY(!panel.mask().contains(QPoint(205, 100)));
        controller.peek(1);
        panel.view().finishAnimations();
        QVERIFY(panel.mask().contains(QPoint(205, 100)));
        m_screens->compositor = true;
        controller.reposition();
        QVERIFY(panel.compositing());
        QVERIFY(panel.view().shadowEnabled());
        QVERIFY(panel.mask().isEmpty());
    }

private:
    std::unique_ptr<FakePreferencesStore> m_store;
    std::unique_ptr<FakeScreens> m_screens;
    FakeClock m_clock;
    std::unique_ptr<ReplayModel> m_model;
};

FERROVANE_TEST_MAIN(NotchControllerTest)
#include "tst_notchcontroller.moc"
