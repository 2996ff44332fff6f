#include "notch/NotchGeometry.h"
#include "notch/NotchShape.h"

#include "FakeScreens.h"
#include "support/TestEnvironment.h"

#include <cmath>
#include <limits>

using ScreenList = std::vector<ScreenInfo>;
Q_DECLARE_METATYPE(ScreenList)
Q_DECLARE_METATYPE(std::optional<int>)

class NotchGeometryTest : public QObject {
    Q_OBJECT
private slots:
    void derivedSizes_data() {
        QTest::addColumn<double>("notchWidth");
        QTest::addColumn<double>("notchHeight");
        QTest::addColumn<double>("pill");
        QTest::addColumn<double>("card");
        QTest::addColumn<double>("panelWidth");
        QTest::addColumn<double>("panelHeight");
        QTest::newRow("180 wide, 32 high") << 180.0 << 32.0 << 244.0 << 390.0 << 410.0 << 176.0;
        QTest::newRow("204: card floor still binds") << 204.0 << 32.0 << 268.0 << 390.0 << 410.0 << 176.0;
        QTest::newRow("300: card grows past the floor") << 300.0 << 37.0 << 364.0 << 404.0 << 424.0 << 181.0;
        QTest::newRow("substitute 120 x 24") << 120.0 << 24.0 << 184.0 << 390.0 << 410.0 << 168.0;
    }
    void derivedSizes() {
        QFETCH(double, notchWidth);
        QFETCH(double, notchHeight);
        QFETCH(double, pill);
        QFETCH(double, card);
        QFETCH(double, panelWidth);
        QFETCH(double, panelHeight);
        const NotchGeometry g(QRectF(0, 0, 1512, 982), notchWidth, notchHeight, true);
        QCOMPARE(g.pillWidth(), pill);
        QCOMPARE(g.cardWidth(), card);
        QCOMPARE(g.cardHeight(), 124.0);
        QCOMPARE(g.panelWidth(), panelWidth);
        QCOMPARE(g.panelHeight(), panelHeight);
    }

    void current_data() {
        const QRectF laptop(0, 0, 1512, 982);
        const QRectF right(1512, 0, 1920, 1080);
        const QRectF left(-1920, 0, 1920, 1080);
        QTest::addColumn<ScreenList>("screens");
        QTest::addColumn<std::optional<int>>("mainIndex");
        QTest::addColumn<NotchGeometry>("expected");

        QTest::newRow("notch from the auxiliary areas 654 + 654")
            << ScreenList{FakeScreens::notched(laptop, 32, 654, 654)} << std::optional<int>(0)
            << NotchGeometry(laptop, 204, 32, true);
        QTest::newRow("notched screen wins although not the main one")
            << ScreenList{FakeScreens::plain(right, 25), FakeScreens::notched(laptop, 37, 600, 612)}
            << std::optional<int>(0) << NotchGeometry(laptop, 300, 37, true);
        QTest::newRow("first of two notched screens")
            << ScreenList{FakeScreens::notched(right, 32, 800, 800),
                          FakeScreens::notched(laptop, 32, 654, 654)}
            << std::optional<int>(1) << NotchGeometry(right, 320, 32, true);
        QTest::newRow("inset without auxiliary areas: substitute") << ScreenList{[&] {
            ScreenInfo s = FakeScreens::notched(laptop, 32, 654, 654);
            s.auxiliaryTopRightArea.reset();
            return s;
        }()} << std::optional<int>(0) << NotchGeometry(laptop, 120, 32, false);
        QTest::newRow("25-point top panel") << ScreenList{FakeScreens::plain(right, 25)}
                                            << std::optional<int>(0) << NotchGeometry(right, 120, 25, false);
        QTest::newRow("no top panel: 24") << ScreenList{FakeScreens::plain(right, 0)} << std::optional<int>(0)
                                          << NotchGeometry(right, 120, 24, false);
        QTest::newRow("thin top panel: 24") << ScreenList{FakeScreens::plain(right, 18)}
                                            << std::optional<int>(0) << NotchGeometry(right, 120, 24, false);
        QTest::newRow("main screen among plain ones")
            << ScreenList{FakeScreens::plain(left, 0), FakeScreens::plain(right, 30)} << std::optional<int>(1)
            << NotchGeometry(right, 120, 30, false);
        QTest::newRow("no main screen: the first")
            << ScreenList{FakeScreens::plain(left, 28), FakeScreens::plain(right, 30)} << std::optional<int>()
            << NotchGeometry(left, 120, 28, false);
        QTest::newRow("not-a-number work area: 24") << ScreenList{[&] {
            ScreenInfo s = FakeScreens::plain(right, 0);
            s.visibleFrame.setHeight(std::numeric_limits<double>::quiet_NaN());
            return s;
        }()} << std::optional<int>(0) << NotchGeometry(right, 120, 24, false);
        QTest::newRow("no screens: defaults") << ScreenList{} << std::optional<int>() << NotchGeometry();
    }
    void current() {
        QFETCH(ScreenList, screens);
        QFETCH(std::optional<int>, mainIndex);
        QFETCH(NotchGeometry, expected);
        FakeScreens fake;
        fake.list = screens;
        fake.mainIndex = mainIndex;
        const NotchGeometry g = NotchGeometry::current(fake);
        QCOMPARE(g.screenFrame, expected.screenFrame);
        QCOMPARE(g.notchWidth, expected.notchWidth);
        QCOMPARE(g.notchHeight, expected.notchHeight);
        QCOMPARE(g.hasNotch, expected.hasNotch);
    }

    void shape_data() {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<double>("radius");
        QTest::newRow("radius 0: plain rectangle") << QRectF(0, 0, 244, 32) << 0.0;
        QTest::newRow("collapsed pill") << QRectF(83, 0, 244, 32) << 10.0;
        QTest::newRow("expanded card") << QRectF(10, 0, 390, 156) << 24.0;
        QTest::newRow("radius beyond the rectangle") << QRectF(0, 0, 40, 20) << 80.0;
    }
    void shape() {
        QFETCH(QRectF, rect);
        QFETCH(double, radius);
        const QPainterPath path = NotchShape{radius}.path(rect);
        QCOMPARE(path.boundingRect(), rect);
        // Top corners stay square whatever the radius.
        QVERIFY(path.contains(rect.topLeft() + QPointF(0.25, 0.25)));
        QVERIFY(path.contains(rect.topRight() + QPointF(-0.25, 0.25)));
        // Bottom corners are cut exactly when there is a radius.
        const bool rounded = radius > 0;
        QCOMPARE(path.contains(rect.bottomLeft() + QPointF(0.5, -0.5)), !rounded);
        QCOMPARE(path.contains(rect.bottomRight() + QPointF(-0.5, -0.5)), !rounded);
        QVERIFY(path.contains(rect.center()));
        // The bottom edge runs straight between the corners.
        QVERIFY(path.contains(QPointF(rect.center().x(), rect.bottom() - 0.25)));
        NotchShape animated{10};
        animated.setAnimatableData(24);
        QCOMPARE(animated.radius, 24.0);
        QCOMPARE(animated.animatableData(), 24.0);
    }

    // A continuous corner cuts deeper than a circular one of the same radius near the edges' ends, but
    // still passes near the circle on the diagonal.
    void shapeCornerIsNearCircular() {
        const QRectF rect(0, 0, 390, 156);
        const QPainterPath path = NotchShape{24}.path(rect);
        const double diagonal = 24 - 24 / std::sqrt(2.0); // a circle's corner point, from each edge
        const QPointF corner = rect.bottomRight();
        QVERIFY(path.contains(corner - QPointF(diagonal + 1.5, diagonal + 1.5)));
        QVERIFY(!path.contains(corner - QPointF(diagonal - 1.5, diagonal - 1.5)));
    }
};

FERROVANE_TEST_MAIN(NotchGeometryTest)
#include "tst_notchgeometry.moc"
