#include "notch/NotchController.h"
#include "notch/NotchPanel.h"
#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "platform/Screens.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTimer>

#include <optional>

namespace {

const QRectF laptop(0, 0, 1512, 982);
const QPointF faraway(100, 100);

// Screens the test describes by hand. The window system's y-down coordinates are the y-up ones flipped
// at the height of the primary screen, the one at the origin.
class FakeScreens final : public Screens {
    Q_OBJECT
public:
    std::vector<ScreenInfo> list{notched(laptop, 32, 666, 666)};
    size_t mainIndex = 0;
    QPointF pointer = faraway;

    std::vector<ScreenInfo> screens() const override { return list; }
    std::optional<ScreenInfo> mainScreen() const override {
        return mainIndex < list.size() ? std::optional(list[mainIndex]) : std::nullopt;
    }
    QPointF pointerLocation() const override { return pointer; }
    QRect toWindowSystem(const QRectF& r) const override {
        double baseline = 0;
        for (const ScreenInfo& screen : list)
            if (screen.frame.topLeft().isNull()) baseline = screen.frame.height();
        return QRectF(r.x(), baseline - r.y() - r.height(), r.width(), r.height()).toRect();
    }
    bool compositing() const override { return false; }

    // A screen without a camera housing whose top panel is `topPanel` points high.
    static ScreenInfo plain(const QRectF& frame, double topPanel) {
        ScreenInfo info;
        info.frame = frame;
        info.visibleFrame = QRectF(frame.x(), frame.y(), frame.width(), frame.height() - topPanel);
        return info;
    }
    static ScreenInfo notched(const QRectF& frame, double inset, double leftWidth, double rightWidth) {
        ScreenInfo info = plain(frame, inset);
        info.safeAreaTopInset = inset;
        const double top = frame.y() + frame.height() - inset;
        info.auxiliaryTopLeftArea = QRectF(frame.x(), top, leftWidth, inset);
        info.auxiliaryTopRightArea = QRectF(frame.x() + frame.width() - rightWidth, top, rightWidth, inset);
        return info;
    }
};

// Lets the pointer poll run `count` more times however long that takes on a busy machine. The spy is
// connected after the controller, so when it counts a tick that tick's work is done.
bool waitForPolls(const NotchController& controller, int count) {
    QSignalSpy ticks(controller.findChild<QTimer*>(QStringLiteral("pointerPoll")), &QTimer::timeout);
    return QTest::qWaitFor([&] { return ticks.count() >= count; }, 5000);
}

// A controller over one notched screen, the pointer far from it.
struct Rig {
    FakeSettings settings;
    FakeScreens screens;
    FakeClock clock;
    ReplayModel model;
    NotchController controller{model, NotchActions{}, screens, clock};
};

} // namespace

class NotchControllerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The offscreen platform cannot shape or raise windows and says so each time.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.startsWith(QLatin1String("This plugin does not support")))
                    previous(type, context, text);
            });
    }
    void init() { m.emplace(); }
    void cleanup() { m.reset(); }

    // Opens inside the open rectangle (maximum edges outside), stays open inside the keep-open one.
    void pointer_data() {
        QTest::addColumn<QPointF>("first");
        QTest::addColumn<QPointF>("then");
        QTest::addColumn<bool>("open");
        QTest::newRow("pill, then the card") << QPointF(756, 970) << QPointF(551, 816) << true;
        QTest::newRow("pill, then below the keep-open rect")
            << QPointF(628, 946) << QPointF(756, 815.9) << false;
        QTest::newRow("right edge is outside") << QPointF(884, 960) << QPointF(884, 960) << false;
        QTest::newRow("just below the pill") << QPointF(700, 945.9) << QPointF(700, 945.9) << false;
    }
    void pointer() {
        QFETCH(QPointF, first);
        QFETCH(QPointF, then);
        QFETCH(bool, open);
        m->screens.pointer = first;
        QVERIFY(waitForPolls(m->controller, 2));
        m->screens.pointer = then;
        QVERIFY(waitForPolls(m->controller, 2));
        QCOMPARE(m->model.expanded(), open);
        QCOMPARE(m->controller.panel().ignoresMouseEvents(), !open);
    }

    void peekPinsTheCard() {
        m->controller.peek(6);
        QVERIFY(m->model.expanded());
        m->clock.advance(5.9);
        QVERIFY(waitForPolls(m->controller, 2));
        QVERIFY(m->model.expanded());
        m->clock.advance(0.2);
        QVERIFY(waitForPolls(m->controller, 1));
        QVERIFY(!m->model.expanded());
    }

    // The screen and notch measured, and the panel placed on it, as the screens change.
    void repositionFollowsScreenChanges_data() {
        QTest::addColumn<std::vector<ScreenInfo>>("screens");
        QTest::addColumn<NotchGeometry>("geometry");
        QTest::addColumn<QRect>("panel");
        const QRectF big(0, 0, 2560, 1440);
        const QRectF right(1512, 0, 1920, 1080);
        // Window-system y 0 is the screen's top edge.
        QTest::newRow("notched screen wins over the main one; a wide notch widens the card")
            << std::vector<ScreenInfo>{FakeScreens::plain(right, 25),
                                       FakeScreens::notched(laptop, 37, 600, 612)}
            << NotchGeometry(laptop, 300, 37, true) << QRect(544, 0, 424, 181);
        QTest::newRow("no notch: a substitute as tall as the top panel")
            << std::vector<ScreenInfo>{FakeScreens::plain(big, 27)} << NotchGeometry(big, 120, 27, false)
            << QRect(1075, 0, 410, 171);
        QTest::newRow("every screen gone: defaults")
            << std::vector<ScreenInfo>{} << NotchGeometry() << QRect(-205, 0, 410, 176);
    }
    void repositionFollowsScreenChanges() {
        QFETCH(std::vector<ScreenInfo>, screens);
        QFETCH(NotchGeometry, geometry);
        QFETCH(QRect, panel);
        m->controller.peek(60);
        m->screens.list = screens;
        m->controller.reposition();
        QVERIFY(m->model.geometry() == geometry);
        QCOMPARE(m->controller.panel().geometry(), panel);
        QCOMPARE(m->controller.panel().view().size(), panel.size());
    }

private:
    std::optional<Rig> m;
};

FERROVANE_TEST_MAIN(NotchControllerTest)
#include "tst_notchcontroller.moc"
