#include "notch/NotchGeometry.h"

#include "FakeScreens.h"
#include "support/TestEnvironment.h"

using ScreenList = std::vector<ScreenInfo>;
Q_DECLARE_METATYPE(ScreenList)

class NotchGeometryTest : public QObject {
    Q_OBJECT
private slots:
    // Pill width, card width and height, panel width and height.
    void derivedSizes_data() {
        QTest::addColumn<double>("notchWidth");
        QTest::addColumn<double>("notchHeight");
        QTest::addColumn<QList<double>>("sizes");
        QTest::newRow("180") << 180.0 << 32.0 << QList<double>{244, 390, 124, 410, 176};
        QTest::newRow("204: card floor still binds")
            << 204.0 << 32.0 << QList<double>{268, 390, 124, 410, 176};
        QTest::newRow("300: card grows past the floor")
            << 300.0 << 37.0 << QList<double>{364, 404, 124, 424, 181};
    }
    void derivedSizes() {
        QFETCH(double, notchWidth);
        QFETCH(double, notchHeight);
        QFETCH(QList<double>, sizes);
        const NotchGeometry g(QRectF(0, 0, 1512, 982), notchWidth, notchHeight, true);
        QCOMPARE(
            (QList<double>{g.pillWidth(), g.cardWidth(), g.cardHeight(), g.panelWidth(), g.panelHeight()}),
            sizes);
    }

    void current_data() {
        const QRectF laptop(0, 0, 1512, 982);
        const QRectF right(1512, 0, 1920, 1080);
        QTest::addColumn<ScreenList>("screens");
        QTest::addColumn<NotchGeometry>("expected");
        QTest::newRow("notch from the auxiliary areas")
            << ScreenList{FakeScreens::notched(laptop, 32, 654, 654)} << NotchGeometry(laptop, 204, 32, true);
        QTest::newRow("notched screen wins over the main one")
            << ScreenList{FakeScreens::plain(right, 25), FakeScreens::notched(laptop, 37, 600, 612)}
            << NotchGeometry(laptop, 300, 37, true);
        QTest::newRow("25-point top panel")
            << ScreenList{FakeScreens::plain(right, 25)} << NotchGeometry(right, 120, 25, false);
        QTest::newRow("no top panel: 24")
            << ScreenList{FakeScreens::plain(right, 0)} << NotchGeometry(right, 120, 24, false);
        QTest::newRow("no screens: defaults") << ScreenList{} << NotchGeometry();
    }
    void current() {
        QFETCH(ScreenList, screens);
        QFETCH(NotchGeometry, expected);
        FakeScreens fake;
        fake.list = screens;
        fake.mainIndex = 0;
        const NotchGeometry g = NotchGeometry::current(fake);
        QCOMPARE(g.screenFrame, expected.screenFrame);
        QCOMPARE(g.notchWidth, expected.notchWidth);
        QCOMPARE(g.notchHeight, expected.notchHeight);
        QCOMPARE(g.hasNotch, expected.hasNotch);
    }
};

FERROVANE_TEST_MAIN(NotchGeometryTest)
#include "tst_notchgeometry.moc"
