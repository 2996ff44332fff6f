#include "notch/BufferRing.h"
#include "notch/IconButton.h"
#include "notch/KeyCap.h"
#include "notch/LengthChips.h"
#include "notch/NotchController.h"
#include "notch/NotchPanel.h"
#include "notch/NotchText.h"
#include "notch/NotchView.h"
#include "notch/PillButton.h"
#include "notch/ReplayModel.h"
#include "platform/Screens.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QMetaMethod>
#include <QPainter>
#include <QSignalSpy>
#include <QTimer>

using Mutation = std::function<void(ReplayModel&)>;
Q_DECLARE_METATYPE(Mutation)

namespace {

const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/home/user/Movies/Ferrovane/replay-1.mp4"));
const QRectF laptop(0, 0, 1512, 982);

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

// An open view over a 30 s buffer, settled; clicks land in `calls`.
struct Fixture {
    ReplayModel model;
    QStringList calls;
    std::unique_ptr<NotchView> view;

    explicit Fixture(const Phase& phase, double buffered = 29.6, double limit = 30) {
        model.setGeometry(NotchGeometry(laptop, 120, 24, false));
        model.setBuffered(buffered);
        model.setBufferLimit(limit);
        model.setLastDuration(75.4);
        model.setPhase(phase);
        model.setExpanded(true);
        const auto record = [this](const char* name) { return [this, name] { calls << name; }; };
        view = std::make_unique<NotchView>(
            model, NotchActions{record("save"), record("copy"), record("handoff"), record("openClip"),
                                record("reveal"), record("togglePause"), record("openSettings"),
                                record("openPrivacySettings"), record("retry")});
        view->resize(view->sizeHint());
        view->show();
        view->finishAnimations();
    }
    template <typename T = QWidget> T* find(const char* name) const { return view->findChild<T*>(name); }
    QString text(const char* name) const { return find<NotchText>(name)->text(); }
    bool shows(const char* name) const { return find(name)->isVisibleTo(view.get()); }

    // Describes the visible controls left to right and clicks each button: "title [symbol]", starred
    // when prominent, or an icon's tooltip, then what the click called.
    QStringList clickThrough() {
        QWidget* row = find("controls");
        QWidgetList items = row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        items.removeIf([row](QWidget* item) { return !item->isVisibleTo(row); });
        std::sort(items.begin(), items.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        QStringList out;
        for (QWidget* item : items) {
            if (auto* pill = qobject_cast<PillButton*>(item))
                out << QStringLiteral("%1 [%2]%3")
                           .arg(pill->title(), pill->symbol(), pill->prominent() ? "*" : "");
            else if (auto* icon = qobject_cast<IconButton*>(item))
                out << QStringLiteral("[%1] %2").arg(icon->symbol(), icon->toolTip());
            else if (auto* chips = qobject_cast<LengthChips*>(item))
                for (QAbstractButton* chip : chips->chips())
                    out << chip->text();
            if (auto* button = qobject_cast<QAbstractButton*>(item)) {
                click(button);
                out.last() += " -> " + calls.join(',');
                calls.clear();
            }
        }
        return out;
    }
};

// Screens the test describes by hand. The window system's y-down coordinates are the y-up ones flipped
// at the height of the primary screen, the one at the origin.
class FakeScreens final : public Screens {
    Q_OBJECT
public:
    std::vector<ScreenInfo> list{notched(laptop, 32, 666, 666)};
    QPointF pointer{100, 100};

    std::vector<ScreenInfo> screens() const override { return list; }
    std::optional<ScreenInfo> mainScreen() const override {
        return list.empty() ? std::nullopt : std::optional(list.front());
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
    FakeScreens screens;
    FakeClock clock;
    ReplayModel model;
    NotchController controller{model, NotchActions{}, screens, clock};
};

} // namespace

// The panel's model, its view over a fresh in-memory store, and the controller that places and opens it.
class NotchTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The offscreen platform cannot shape or raise windows and says so each time.
        static const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                if (!text.startsWith("This plugin does not support")) previous(type, context, text);
            });
    }

    // Each setter tells of a change with its own signal, and of no change at all.
    void changeSignals_data() {
        QTest::addColumn<Mutation>("mutation");
        QTest::addColumn<QByteArray>("signal");
        QImage thumbnail(78, 48, QImage::Format_RGB32);
        thumbnail.fill(Qt::red);
        const std::vector<double> options{10, 30, 60};
        const std::pair<const char*, Mutation> rows[] = {
            {"phaseChanged", [](ReplayModel& m) { m.setPhase(Phase::live()); }},
            {"expandedChanged", [](ReplayModel& m) { m.setExpanded(true); }},
            {"flashChanged", [](ReplayModel& m) { m.setFlash(true); }},
            {"geometryChanged", [](ReplayModel& m) { m.setGeometry(NotchGeometry(laptop, 204, 32, true)); }},
            {"bufferedChanged", [](ReplayModel& m) { m.setBuffered(0.5); }},
            {"bufferLimitChanged", [](ReplayModel& m) { m.setBufferLimit(60); }},
            {"saveLengthChanged", [](ReplayModel& m) { m.setSaveLength(10); }},
            {"saveOptionsChanged", [options](ReplayModel& m) { m.setSaveOptions(options); }},
            {"lastClipChanged", [](ReplayModel& m) { m.setLastClip(clip); }},
            {"lastThumbnailChanged", [thumbnail](ReplayModel& m) { m.setLastThumbnail(thumbnail.copy()); }},
            {"lastDurationChanged", [](ReplayModel& m) { m.setLastDuration(75.4); }},
        };
        for (const auto& [signal, mutation] : rows)
            QTest::newRow(signal) << mutation << QByteArray(signal);
    }
    void changeSignals() {
        QFETCH(Mutation, mutation);
        QFETCH(QByteArray, signal);
        ReplayModel model;
        std::list<QSignalSpy> spies;
        const QMetaObject* meta = model.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                spies.emplace_back(&model, meta->method(i));
        for (int round = 0; round < 2; ++round) { // the same value again is no change
            mutation(model);
            QByteArrayList fired;
            for (const QSignalSpy& spy : spies)
                fired += QByteArrayList(spy.count(), spy.signal().split('(').front());
            QCOMPARE(fired, QByteArrayList{signal});
        }
    }

    void formatDuration_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("59.5 rounds up") << 59.5 << "1:00";
        QTest::newRow("no hour field") << 3600.0 << "60:00";
        QTest::newRow("negative") << -3.0 << "0:00";
    }
    void formatDuration() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(::formatDuration(seconds), text);
    }

    void phaseEquality_data() {
        QTest::addColumn<Phase>("left");
        QTest::addColumn<Phase>("right");
        QTest::addColumn<bool>("equal");
        QTest::newRow("other clip") << Phase::saved(clip) << Phase::saved(QUrl("file:///b.mp4")) << false;
        QTest::newRow("saved != copied") << Phase::saved(clip) << Phase::copied(clip) << false;
        QTest::newRow("other text") << Phase::working("x") << Phase::working("y") << false;
        QTest::newRow("canonically equivalent texts") << Phase::notice(QStringLiteral("caf\u00e9"))
                                                      << Phase::notice(QStringLiteral("cafe\u0301")) << true;
    }
    void phaseEquality() {
        QFETCH(Phase, left);
        QFETCH(Phase, right);
        QFETCH(bool, equal);
        QCOMPARE(left == right, equal);
        QCOMPARE(right == left, equal);
    }

    void phases_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QStringList>("controls");
        const QStringList live{"10s", "30s", "[pause.fill] Pause and clear the buffer -> togglePause",
                               "[gearshape] Settings -> openSettings", "Save 30s [record.circle]* -> save"};
        const QStringList clipRow{"Copy [doc.on.doc]* -> copy", "Claude [sparkles] -> handoff",
                                  "[play.fill] Play -> openClip", "[folder] Show in Folder -> reveal"};
        QTest::newRow("working") << Phase::working("Saving replay…") << "Saving replay…"
                                 << "One moment." << QStringList();
        QTest::newRow("starting") << Phase::starting() << "Starting replay buffer…"
                                  << "Your desktop may ask which screen to share." << QStringList();
        QTest::newRow("live") << Phase::live() << "Instant Replay"
                              << "Last 30s ready to save. Works from any app." << live;
        QTest::newRow("notice") << Phase::notice("Couldn't extract frames") << "Couldn't extract frames"
                                << "Still recording in the background." << live;
        QTest::newRow("saved") << Phase::saved(clip) << "Replay saved"
                               << "1:15 saved to Videos › Ferrovane" << clipRow;
        QTest::newRow("copied") << Phase::copied(clip) << "Clip copied"
                                << "Paste it into Slack, Messages, email or a bug report." << clipRow;
        QTest::newRow("handedOff")
            << Phase::handedOff(clip) << "Ready for Claude"
            << "A prompt with 6 frames is on your clipboard. Paste it into Claude Code." << clipRow;
        QTest::newRow("failed") << Phase::failed("No display") << "Replay can't record"
                                << "No display"
                                << QStringList{"Retry [arrow.clockwise] -> retry",
                                               "Open Privacy Settings [lock.shield]* -> openPrivacySettings"};
        QTest::newRow("paused") << Phase::paused() << "Replay is paused"
                                << "Nothing is being recorded. The buffer was cleared."
                                << QStringList{"[gearshape] Settings -> openSettings",
                                               "Resume [play.fill]* -> togglePause"};
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(QStringList, controls);
        Fixture f(phase);
        QCOMPARE(f.text("title"), title);
        QCOMPARE(f.text("subtitle"), subtitle);
        QCOMPARE(f.find<NotchText>("title")->lines().size(), 1);
        QVERIFY(f.find<NotchText>("subtitle")->lines().size() <= 2);
        // Only the live card names the shortcut.
        QCOMPARE(f.shows("keyCap"), phase == Phase::live());
        QCOMPARE(f.clickThrough(), controls);
    }

    // The longest texts the panel shows are read whole at the card's width in the real font: a notice title
    // wraps into the subtitle's place, a failure's reason keeps to its lines.
    void longTextsShowWhole_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("shown"); // the text widget that carries it
        for (const char* text :
             {"Could not save the replay: No space left on device",
              "Nothing recorded yet. Give it a few seconds.",
              "Could not save the replay: could not create the folder ~/Videos/Ferrovane (Not a directory)",
              "Could not save the replay: could not name the clip (Permission denied)"})
            QTest::newRow(text) << Phase::notice(text) << "title";
        for (const char* text :
             {"Allow Ferrovane to record the screen, then try again.",
              "Could not create the buffer folder: No space left on device",
              "The desktop could not share the screen (Start failed).",
              "The display \"HDMI-1\" was disconnected.", "The X display's pixel format cannot be captured."})
            QTest::newRow(text) << Phase::failed(text) << "subtitle";
    }
    void longTextsShowWhole() {
        QFETCH(Phase, phase);
        QFETCH(QString, shown);
        Fixture f(phase);
        const NotchText* text = f.find<NotchText>(qPrintable(shown));
        QVERIFY(f.shows(qPrintable(shown)));
        // Lines break at spaces and after slashes; none is cut short.
        QCOMPARE(text->lines().join(QString()).remove(' '), phase.text().remove(' '));
        QVERIFY(f.find("card")->rect().contains(text->geometry()));
        if (shown == "title") QVERIFY(!f.shows("subtitle") || text->lines().size() == 1);
    }

    // The live card claims no recording the buffer cannot hold, and offers no key the desktop did not bind;
    // a chip sets the save length, and a single option leaves nothing to choose.
    void liveCard() {
        Fixture f(Phase::live());
        f.model.setWriteError("The buffer cannot be written: No space left on device");
        QCOMPARE(f.text("title"), "Not recording");
        QCOMPARE(f.text("subtitle"), "The buffer cannot be written: No space left on device");
        QVERIFY(f.shows("keyCap"));
        f.model.setWriteError(QString());
        f.model.setHotKeyBound(false);
        QCOMPARE(f.text("title"), "Instant Replay");
        QVERIFY(!f.shows("keyCap"));
        click(f.find<LengthChips>("lengthChips")->chips().front());
        QCOMPARE(f.model.saveLength(), 10.0);
        QCOMPARE(f.find<PillButton>("saveButton")->title(), QStringLiteral("Save 10s"));
        QVERIFY(f.calls.isEmpty());
        f.model.setSaveOptions({10});
        QVERIFY(!f.shows("lengthChips"));
    }

    // Every frame of the closing and opening animations, as a compositing desktop shows them: nothing but
    // shadow outside the notch shape (no content cut off at the sides, no stray glyphs), and a shadow that
    // fades out before the window's edges instead of being cut off by them.
    void animationFramesStayInside() {
        Fixture f(Phase::saved(clip));
        f.view->setShadowEnabled(true);
        int frames = 0;
        for (const bool open : {false, true}) {
            f.model.setExpanded(open);
            for (int ms = 0; ms == 0 || f.view->isAnimating(); ms += 8, ++frames) {
                f.view->seekAnimations(ms);
                QImage frame(f.view->size(), QImage::Format_ARGB32_Premultiplied);
                frame.fill(Qt::transparent);
                f.view->render(&frame, QPoint(), QRegion(), QWidget::DrawChildren);
                // The shape with a pixel of antialiasing around it.
                QImage inside(frame.size(), QImage::Format_Alpha8);
                inside.fill(0);
                QPainter painter(&inside);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setPen(QPen(Qt::black, 3));
                painter.setBrush(Qt::black);
                painter.drawPath(f.view->shapePath());
                painter.end();
                const auto fault = [&](const char* what, int x, int y) {
                    return QString::asprintf("%s at %d,%d, %d ms into the %s (openness %g)", what, x, y, ms,
                                             open ? "opening" : "closing", f.view->openness());
                };
                for (int y = 0; y < frame.height(); ++y) {
                    const auto* row = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
                    for (int x = 0; x < frame.width(); ++x) {
                        if ((x == 0 || x == frame.width() - 1 || y == frame.height() - 1) && qAlpha(row[x]))
                            QFAIL(qPrintable(fault("cut off at the window's edge", x, y)));
                        if (!inside.constScanLine(y)[x] && (qRed(row[x]) | qGreen(row[x]) | qBlue(row[x])))
                            QFAIL(qPrintable(fault("content outside the card", x, y)));
                    }
                }
            }
        }
        QVERIFY(frames > 20);
    }

    // The live subtitle and the ring as the buffer fills.
    void buffered_data() {
        QTest::addColumn<double>("buffered");
        QTest::addColumn<double>("limit");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<double>("arc");
        const QString filling = QStringLiteral("Filling the buffer…");
        const QString ready = QStringLiteral("Last %1s ready to save. Works from any app.");
        QTest::newRow("0.4 s: filling, least arc") << 0.4 << 30.0 << filling << 0.02;
        QTest::newRow("0.5 s rounds to 1") << 0.5 << 30.0 << ready.arg(1) << 0.02;
        QTest::newRow("over full: whole ring") << 51.0 << 30.0 << ready.arg(51) << 1.0;
        QTest::newRow("limit 0: no division") << 12.0 << 0.0 << ready.arg(12) << 0.02;
        QTest::newRow("negative") << -5.0 << 30.0 << filling << 0.02;
    }
    void buffered() {
        QFETCH(double, buffered);
        QFETCH(double, limit);
        QFETCH(QString, subtitle);
        QFETCH(double, arc);
        Fixture f(Phase::live(), buffered, limit);
        QCOMPARE(f.text("subtitle"), subtitle);
        auto* ring = f.find<BufferRing>("bufferRing");
        QCOMPARE(ring->arcFraction(), arc);
        QVERIFY(std::isfinite(ring->progress()));
    }

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
        Rig rig;
        rig.screens.pointer = first;
        QVERIFY(waitForPolls(rig.controller, 2));
        rig.screens.pointer = then;
        QVERIFY(waitForPolls(rig.controller, 2));
        QCOMPARE(rig.model.expanded(), open);
        QCOMPARE(rig.controller.panel().ignoresMouseEvents(), !open);
    }

    void peekPinsTheCard() {
        Rig rig;
        rig.controller.peek(6);
        QVERIFY(rig.model.expanded());
        rig.clock.advance(5.9);
        QVERIFY(waitForPolls(rig.controller, 2));
        QVERIFY(rig.model.expanded());
        rig.clock.advance(0.2);
        QVERIFY(waitForPolls(rig.controller, 1));
        QVERIFY(!rig.model.expanded());
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
        Rig rig;
        rig.controller.peek(60);
        rig.screens.list = screens;
        rig.controller.reposition();
        QVERIFY(rig.model.geometry() == geometry);
        QCOMPARE(rig.controller.panel().geometry(), panel);
        QCOMPARE(rig.controller.panel().view().size(), panel.size());
    }

private:
    FakeSettings m_settings; // read, never written
};

FERROVANE_TEST_MAIN(NotchTest)
#include "tst_notch.moc"
