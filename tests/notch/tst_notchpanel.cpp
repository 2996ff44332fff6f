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
#include <QMouseEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include <cstdio>
#include <optional>

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

void xdotool(QPoint p, bool click = false) {
    QStringList arguments{QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())};
    if (click) arguments << QStringLiteral("click") << QStringLiteral("1");
    run(QStringLiteral("xdotool"), arguments);
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
    void init() {
        m_settings.emplace();
        xdotool(faraway);
        m_screens = createScreens();
        m_model = std::make_unique<ReplayModel>();
        m_model->setPhase(Phase::live());
        m_calls.clear();
    }
    void cleanup() {
        m_controller.reset();
        m_model.reset();
        m_screens.reset();
        m_settings.reset();
    }

    void frameAtTheTopCentre() {
        start();
        // No top panel on this display: the substitute notch is 120 x 24, the panel 410 x 168.
        const QString info = run(QStringLiteral("xwininfo"),
                                 {QStringLiteral("-id"), QString::number(m_controller->panel().winId())});
        for (const char* line : {"Absolute upper-left X:  551", "Absolute upper-left Y:  0", "Width: 410",
                                 "Height: 168", "Map State: IsViewable", "Override Redirect State: yes"})
            QVERIFY2(info.contains(QLatin1String(line)), qPrintable(info));
    }

    void pointerOpensWithinTwoPollsAndLeavingCloses() {
        start();
        QSignalSpy ticks(m_controller->findChild<QTimer*>(QStringLiteral("pointerPoll")), &QTimer::timeout);
        xdotool(pillCentre);
        ticks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(m_model->expanded(), 2000);
        QVERIFY2(ticks.count() <= 2, qPrintable(QString::number(ticks.count())));
        xdotool(faraway);
        ticks.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->expanded(), 2000);
        QVERIFY2(ticks.count() <= 2, qPrintable(QString::number(ticks.count())));
    }

    void clicksPassThroughTheCollapsedPill() {
        Underneath below;
        below.setGeometry(screenWidth / 2 - 300, 0, 600, 250);
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below));
        start();
        // Hold the card shut so the pointer resting on the pill cannot open it.
        m_controller->findChild<QTimer*>(QStringLiteral("pointerPoll"))->stop();
        xdotool(pillCentre, true);
        QTRY_COMPARE(below.presses.size(), 1);
        QCOMPARE(below.presses.front(), pillCentre);
        // Open, the card takes the click.
        m_controller->peek(60);
        m_controller->panel().view().finishAnimations();
        QTest::qWait(100);
        auto* save = m_controller->panel().findChild<QAbstractButton*>(QStringLiteral("saveButton"));
        xdotool(save->mapToGlobal(save->rect().center()), true);
        QTRY_COMPARE(m_calls, QStringList{QStringLiteral("save")});
        QCOMPARE(below.presses.size(), 1);
    }

private:
    void start() {
        auto record = [this](const char* name) {
            return [this, name] { m_calls << QString::fromLatin1(name); };
        };
        NotchActions actions;
        actions.save = record("save");
        m_controller = std::make_unique<NotchController>(*m_model, actions, *m_screens, m_clock);
        QVERIFY(QTest::qWaitForWindowExposed(&m_controller->panel()));
    }

    std::optional<FakeSettings> m_settings;
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
    prepareWindowSystem();
    QApplication app(argc, argv);
    NotchPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchpanel.moc"
