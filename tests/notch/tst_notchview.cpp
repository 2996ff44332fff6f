#include "notch/BufferRing.h"
#include "notch/IconButton.h"
#include "notch/KeyCap.h"
#include "notch/LengthChips.h"
#include "notch/NotchText.h"
#include "notch/NotchView.h"
#include "notch/PillButton.h"
#include "notch/ReplayModel.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/home/user/Movies/Ferrovane/replay-1.mp4"));

// An open view over a 30 s buffer, settled; clicks land in `calls`.
struct Fixture {
    ReplayModel model;
    QStringList calls;
    std::unique_ptr<NotchView> view;

    explicit Fixture(const Phase& phase, double buffered = 29.6, double limit = 30) {
        model.setGeometry(NotchGeometry(QRectF(0, 0, 1512, 982), 120, 24, false));
        model.setBuffered(buffered);
        model.setBufferLimit(limit);
        model.setLastDuration(75.4);
        model.setPhase(phase);
        model.setExpanded(true);
        auto record = [this](const char* name) {
            return [this, name] { calls << QString::fromLatin1(name); };
        };
        view = std::make_unique<NotchView>(
            model, NotchActions{record("save"), record("copy"), record("handoff"), record("openClip"),
                                record("reveal"), record("togglePause"), record("openSettings"),
                                record("openPrivacySettings"), record("retry")});
        view->resize(view->sizeHint());
        view->show();
        view->finishAnimations();
    }
    template <typename T> T* find(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return find<NotchText>(name)->text(); }

    // Describes the visible controls left to right and clicks each button: "title [symbol]", starred
    // when prominent, or an icon's tooltip, then what the click called.
    QStringList clickThrough() {
        auto* row = find<QWidget>("controls");
        QWidgetList items;
        for (QWidget* child : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(row)) items << child;
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
                QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
                out.last() += QStringLiteral(" -> ") + calls.join(QLatin1Char(','));
                calls.clear();
            }
        }
        return out;
    }
};

} // namespace

class NotchViewTest : public QObject {
    Q_OBJECT
private slots:
    void init() { m_settings.emplace(); }
    void cleanup() { m_settings.reset(); }

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
        QCOMPARE(f.find<KeyCap>("keyCap")->isVisibleTo(f.view.get()), phase == Phase::live());
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
              "Could not save the replay: could not name the clip (Permission denied)",
              "Replay was moved or deleted", "Couldn't open the replay"})
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
        const NotchText* text = f.find<NotchText>(shown.toLatin1().constData());
        QVERIFY(text->isVisibleTo(f.view.get()));
        // Lines break at spaces and after slashes; none is cut short.
        QCOMPARE(text->lines().join(QString()).remove(' '), phase.text().remove(' '));
        const QRect card = f.find<QWidget>("card")->rect();
        QVERIFY(card.contains(text->geometry()));
        if (shown == "title")
            QVERIFY(!f.find<NotchText>("subtitle")->isVisibleTo(f.view.get()) || text->lines().size() == 1);
    }

    // The live card claims no recording the buffer cannot hold, and offers no key the desktop did not bind.
    void liveCardTellsTheTruth() {
        Fixture f(Phase::live());
        f.model.setWriteError("The buffer cannot be written: No space left on device");
        QCOMPARE(f.text("title"), "Not recording");
        QCOMPARE(f.text("subtitle"), "The buffer cannot be written: No space left on device");
        QVERIFY(f.find<KeyCap>("keyCap")->isVisibleTo(f.view.get()));
        f.model.setWriteError(QString());
        f.model.setHotKeyBound(false);
        QCOMPARE(f.text("title"), "Instant Replay");
        QVERIFY(!f.find<KeyCap>("keyCap")->isVisibleTo(f.view.get()));
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
            for (int ms = 0; ms == 0 || f.view->isAnimating(); ms += 8) {
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
                QString fault;
                for (int y = 0; y < frame.height() && fault.isEmpty(); ++y) {
                    const auto* row = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
                    for (int x = 0; x < frame.width() && fault.isEmpty(); ++x) {
                        const bool edge = x == 0 || x == frame.width() - 1 || y == frame.height() - 1;
                        if (edge && qAlpha(row[x]) != 0)
                            fault = QStringLiteral("cut off at the window's edge at %1,%2").arg(x).arg(y);
                        else if (inside.constScanLine(y)[x] == 0 &&
                                 (qRed(row[x]) | qGreen(row[x]) | qBlue(row[x])))
                            fault = QStringLiteral("content outside the card at %1,%2").arg(x).arg(y);
                    }
                }
                QVERIFY2(fault.isEmpty(),
                         qPrintable(QStringLiteral("%1 %2 ms (openness %3, shape %4): %5")
                                        .arg(open ? "opening" : "closing")
                                        .arg(ms)
                                        .arg(f.view->openness())
                                        .arg(QString::number(f.view->shapePath().boundingRect().width()))
                                        .arg(fault)));
                ++frames;
            }
        }
        QVERIFY(frames > 20);
    }

    void chipClickChangesSaveLength() {
        Fixture f(Phase::live());
        QAbstractButton* ten = f.find<LengthChips>("lengthChips")->chips().front();
        QTest::mouseClick(ten, Qt::LeftButton, {}, ten->rect().center());
        QCOMPARE(f.model.saveLength(), 10.0);
        QCOMPARE(f.find<PillButton>("saveButton")->title(), QStringLiteral("Save 10s"));
        QVERIFY(f.calls.isEmpty());
        // A single option leaves nothing to choose: no chips.
        f.model.setSaveOptions({10});
        QVERIFY(!f.find<QWidget>("lengthChips")->isVisibleTo(f.view.get()));
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

private:
    std::optional<FakeSettings> m_settings;
};

FERROVANE_TEST_MAIN(NotchViewTest)
#include "tst_notchview.moc"
