#include "platform/PlatformFactory.h"
#include "platform/Screens.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QProcess>
#include <QWidget>

namespace {

constexpr int width = 1280, height = 800;

void movePointer(int x, int y) {
    QProcess::execute("xdotool", {"mousemove", QString::number(x), QString::number(y)});
}

} // namespace

// What the panel sees of the pointer on a Wayland session, where XWayland tells the application where
// the pointer is only over its own windows: the strip at the top centre and any window of ours count,
// everywhere else the pointer is reported far away rather than at its last known place.
class PointerStripTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Screens> m_screens;

private slots:
    void initTestCase() { m_screens = createScreens(); }

    void pointer_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<bool>("seen");
        QTest::newRow("on the strip") << QPoint(width / 2, 0) << true;
        QTest::newRow("beside the strip") << QPoint(width / 2 + 130, 0) << false;
        QTest::newRow("below the strip") << QPoint(width / 2, 3) << false;
        QTest::newRow("on a window of ours") << QPoint(110, 610) << true;
        QTest::newRow("desktop") << QPoint(600, 400) << false;
    }
    void pointer() {
        QFETCH(QPoint, at);
        QFETCH(bool, seen);
        QWidget window;
        window.setGeometry(100, 600, 50, 50);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        movePointer(at.x(), at.y());
        const QPointF expected = seen ? QPointF(at.x() + 0.5, height - at.y() - 0.5) : QPointF(-1e6, -1e6);
        QTRY_COMPARE(m_screens->pointerLocation(), expected);
        movePointer(900, 500); // away again, so the next row starts outside
        QTRY_COMPARE(m_screens->pointerLocation(), QPointF(-1e6, -1e6));
    }
};

// A Wayland session as the application sees it; its windows go through the X server all the same.
FERROVANE_X11_TEST_MAIN(PointerStripTest, QSize(width, height), qputenv("XDG_SESSION_TYPE", "wayland");
                        qunsetenv("QT_QPA_PLATFORM"); prepareWindowSystem())

#include "tst_pointerstrip.moc"
