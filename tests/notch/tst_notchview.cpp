#include "notch/BufferRing.h"
#include "notch/ClipThumb.h"
#include "notch/IconButton.h"
#include "notch/IconTile.h"
#include "notch/KeyCap.h"
#include "notch/LengthChips.h"
#include "notch/NotchAnimation.h"
#include "notch/NotchText.h"
#include "notch/NotchView.h"
#include "notch/PillButton.h"
#include "notch/ReplayModel.h"
#include "notch/SymbolView.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QEnterEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/home/user/Movies/Ferrovane/replay-1.mp4"));

// The notch view over a model with the sample data, expanded and settled.
struct Fixture {
    ReplayModel model;
    QStringList calls;
    std::unique_ptr<NotchView> view;

    explicit Fixture(const Phase& phase, bool expanded = true) {
        model.setGeometry(NotchGeometry(QRectF(0, 0, 1512, 982), 120, 24, false));
        model.setBuffered(29.6);
        model.setBufferLimit(30);
        model.setSaveOptions({10, 30});
        model.setSaveLength(30);
        model.setLastClip(clip);
        model.setLastDuration(75.4);
        model.setPhase(phase);
        model.setExpanded(expanded);
    }
    NotchView& show() {
        auto record = [this](const char* name) {
            return [this, name] { calls << QString::fromLatin1(name); };
        };
        const NotchActions actions{
            record("save"),   record("copy"),        record("handoff"),      record("openClip"),
            record("reveal"), record("togglePause"), record("openSettings"), record("openPrivacySettings"),
            record("retry")};
        view = std::make_unique<NotchView>(model, actions);
        view->resize(view->sizeHint());
        view->show();
        view->finishAnimations();
        return *view;
    }
    template <typename T> T* find(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return find<NotchText>(name)->text(); }
};

// The controls row as read from the widget tree, left to right; "space" where a flexible space pushes the
// next item away from its neighbour (or from the row's ends).
QStringList describeControls(QWidget* row) {
    std::vector<QWidget*> items;
    for (QWidget* child : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (child->isVisibleTo(row)) items.push_back(child);
    std::sort(items.begin(), items.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
    QStringList out;
    int expectedX = 0;
    for (QWidget* item : items) {
        if (item->x() > expectedX + 1) out << QStringLiteral("space");
        if (auto* pill = qobject_cast<PillButton*>(item))
            out << QStringLiteral("pill %1 [%2]%3")
                       .arg(pill->title(), pill->symbol(),
                            pill->prominent() ? QStringLiteral(" prominent") : QString());
        else if (auto* icon = qobject_cast<IconButton*>(item))
            out << QStringLiteral("icon [%1] \"%2\"").arg(icon->symbol(), icon->toolTip());
        else if (auto* chips = qobject_cast<LengthChips*>(item)) {
            QStringList labels;
            for (QAbstractButton* chip : chips->chips())
                labels << chip->text();
            out << QStringLiteral("chips ") + labels.join(QLatin1Char(','));
        }
        expectedX = item->x() + item->width() + 6;
    }
    if (!items.empty() && expectedX - 6 < row->width() - 1) out << QStringLiteral("space");
    return out;
}

// Runs the event loop until `done`, sampling `value`; true when some sample lay strictly between the bounds,
// that is, the change was animated rather than applied at once.
bool animatedBetween(const std::function<double()>& value, double from, double to,
                     const std::function<bool()>& done) {
    bool between = false;
    QTest::qWaitFor([&] {
        const double v = value();
        between = between || (v > from && v < to);
        return done();
    });
    return between;
}

const QString pauseIcon = QStringLiteral("icon [pause.fill] \"Pause and clear the buffer\"");
const QString gearIcon = QStringLiteral("icon [gearshape] \"Settings\"");

} // namespace

class NotchViewTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_store = std::make_unique<FakePreferencesStore>();
        Settings::useStore(m_store.get());
        Settings::registerDefaults();
    }
    void cleanup() { Settings::useStore(nullptr); }

    void phases_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<QString>("visual");
        QTest::addColumn<bool>("keyCap");
        QTest::addColumn<QStringList>("controls");
        const QStringList live{"chips 10s,30s", "space", pauseIcon, gearIcon,
                               "pill Save 30s [record.circle] prominent"};
        const QStringList clipControls{"pill Copy [doc.on.doc] prominent", "pill Claude [sparkles]", "space",
                                       "icon [play.fill] \"Play\"", "icon [folder] \"Show in Finder\""};
        QTest::newRow("working") << Phase::working("Saving replay…") << "Saving replay…"
                                 << "One moment."
                                 << "spinner" << false << QStringList();
        QTest::newRow("starting") << Phase::starting() << "Starting replay buffer…"
                                  << "macOS may ask for Screen Recording permission."
                                  << "spinner" << false << QStringList();
        QTest::newRow("live") << Phase::live() << "Instant Replay"
                              << "Last 30s ready to save. Works from any app."
                              << "iconTile" << true << live;
        QTest::newRow("notice keeps the live controls, no key cap")
            << Phase::notice("Couldn't extract frames") << "Couldn't extract frames"
            << "Still recording in the background."
            << "iconTile" << false << live;
        QTest::newRow("saved") << Phase::saved(clip) << "Replay saved"
                               << "1:15 saved to Movies › Ferrovane"
                               << "clipThumb" << false << clipControls;
        QTest::newRow("copied") << Phase::copied(clip) << "Clip copied"
                                << "Paste it into Slack, Messages, email or a bug report."
                                << "clipThumb" << false << clipControls;
        QTest::newRow("handedOff")
            << Phase::handedOff(clip) << "Ready for Claude"
            << "A prompt with 6 frames is on your clipboard. Paste it into Claude Code."
            << "clipThumb" << false << clipControls;
        QTest::newRow("failed") << Phase::failed("No display") << "Replay can't record"
                                << "No display"
                                << "iconTile" << false
                                << QStringList{"space", "pill Retry [arrow.clockwise]",
                                               "pill Open Privacy Settings [lock.shield] prominent"};
        QTest::newRow("paused") << Phase::paused() << "Replay is paused"
                                << "Nothing is being recorded. The buffer was cleared."
                                << "iconTile" << false
                                << QStringList{"space", gearIcon, "pill Resume [play.fill] prominent"};
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(QString, visual);
        QFETCH(bool, keyCap);
        QFETCH(QStringList, controls);
        Fixture f(phase);
        f.show();
        QCOMPARE(f.text("title"), title);
        QCOMPARE(f.text("subtitle"), subtitle);
        for (const char* name : {"spinner", "iconTile", "clipThumb"})
            QCOMPARE(f.find<QWidget>(name)->isVisibleTo(f.view.get()), visual == QLatin1String(name));
        QCOMPARE(f.find<KeyCap>("keyCap")->isVisibleTo(f.view.get()), keyCap);
        if (keyCap) QCOMPARE(f.find<KeyCap>("keyCap")->text(), QStringLiteral("⌃⌥R"));
        QCOMPARE(describeControls(f.find<QWidget>("controls")), controls);
        // Title on one line, subtitle on at most two, both within the card.
        QCOMPARE(f.find<NotchText>("title")->lines().size(), 1);
        QVERIFY(f.find<NotchText>("subtitle")->lines().size() <= 2);
        QWidget* card = f.find<QWidget>("card");
        for (QWidget* child : card->findChildren<QWidget*>())
            if (child->isVisibleTo(card))
                QVERIFY2(card->rect().contains(child->geometry()) || child->parentWidget() != card,
                         qPrintable(child->objectName()));
    }

    void leadingVisuals_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QColor>("firstColor");
        QTest::newRow("live") << Phase::live() << "arrow.counterclockwise"
                              << QColor::fromRgbF(1.0f, 0.3f, 0.25f);
        QTest::newRow("paused") << Phase::paused() << "pause.fill" << QColor(142, 142, 147, 153);
        QTest::newRow("failed") << Phase::failed("x") << "exclamationmark.triangle.fill"
                                << QColor(142, 142, 147, 153);
        QTest::newRow("notice") << Phase::notice("x") << "info" << QColor(255, 159, 10);
    }
    void leadingVisuals() {
        QFETCH(Phase, phase);
        QFETCH(QString, symbol);
        QFETCH(QColor, firstColor);
        Fixture f(phase);
        f.show();
        auto* tile = f.find<IconTile>("iconTile");
        QCOMPARE(tile->size(), QSize(44, 44));
        QCOMPARE(tile->symbol(), symbol);
        QCOMPARE(tile->colors().size(), size_t(2));
        QCOMPARE(tile->colors().front().rgba(), firstColor.rgba());
    }

    void liveSubtitle_data() {
        QTest::addColumn<double>("buffered");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("0.4 s") << 0.4 << "Filling the buffer…";
        QTest::newRow("0.5 s rounds to 1") << 0.5 << "Last 1s ready to save. Works from any app.";
        QTest::newRow("29.6 s") << 29.6 << "Last 30s ready to save. Works from any app.";
        QTest::newRow("negative") << -3.0 << "Filling the buffer…";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "Filling the buffer…";
    }
    void liveSubtitle() {
        QFETCH(double, buffered);
        QFETCH(QString, subtitle);
        Fixture f(Phase::live());
        f.model.setBuffered(buffered);
        f.show();
        QCOMPARE(f.text("subtitle"), subtitle);
    }

    void saveLengthLabelsTheButton() {
        Fixture f(Phase::live());
        f.model.setSaveOptions({10, 15});
        f.model.setSaveLength(15);
        f.show();
        QCOMPARE(f.find<PillButton>("saveButton")->title(), QStringLiteral("Save 15s"));
        f.model.setSaveLength(22.9);
        QCOMPARE(f.find<PillButton>("saveButton")->title(), QStringLiteral("Save 22s"));
    }

    void oneOptionShowsNoChips() {
        Fixture f(Phase::live());
        f.model.setSaveOptions({30});
        f.show();
        QCOMPARE(describeControls(f.find<QWidget>("controls")),
                 (QStringList{"space", pauseIcon, gearIcon, "pill Save 30s [record.circle] prominent"}));
    }

    void chips_data() {
        QTest::addColumn<std::vector<double>>("options");
        QTest::addColumn<double>("selection");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<int>("selected"); // -1: none
        QTest::newRow("fractions are dropped")
            << std::vector<double>{10, 30, 45.5} << 30.0 << QStringList{"10s", "30s", "45s"} << 1;
        QTest::newRow("no match, no highlight")
            << std::vector<double>{10, 30, 60} << 45.0 << QStringList{"10s", "30s", "60s"} << -1;
        QTest::newRow("exact equality only")
            << std::vector<double>{60, 120, 300} << 120.0000001 << QStringList{"60s", "120s", "300s"} << -1;
    }
    void chips() {
        QFETCH(std::vector<double>, options);
        QFETCH(double, selection);
        QFETCH(QStringList, labels);
        QFETCH(int, selected);
        LengthChips chips;
        chips.setOptions(options);
        chips.setSelection(selection);
        QStringList texts;
        for (QAbstractButton* chip : chips.chips())
            texts << chip->text();
        QCOMPARE(texts, labels);
        // A selected chip draws on a nearly opaque white capsule, the others on a faint one.
        chips.show();
        const QImage image = chips.grab().toImage();
        for (int i = 0; i < int(chips.chips().size()); ++i) {
            const QRect r = chips.chips()[i]->geometry();
            const QColor fill = image.pixelColor(r.left() + 4, r.center().y());
            QCOMPARE(fill.alpha() > 128, i == selected);
        }
    }

    void chipClickChangesSaveLength() {
        Fixture f(Phase::live());
        f.show();
        auto* chips = f.find<LengthChips>("lengthChips");
        QAbstractButton* ten = chips->chips().front();
        QCOMPARE(ten->text(), QStringLiteral("10s"));
        QTest::mouseClick(ten, Qt::LeftButton, {}, ten->rect().center());
        QCOMPARE(f.model.saveLength(), 10.0);
        QCOMPARE(chips->selection(), 10.0);
        QCOMPARE(f.find<PillButton>("saveButton")->title(), QStringLiteral("Save 10s"));
        QVERIFY(f.calls.isEmpty());
    }

    void buttonsReachTheirActions_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("action");
        QTest::newRow("save") << Phase::live() << "saveButton"
                              << "save";
        QTest::newRow("pause") << Phase::live() << "pauseButton"
                               << "togglePause";
        QTest::newRow("settings while live") << Phase::live() << "settingsButton"
                                             << "openSettings";
        QTest::newRow("save from a notice") << Phase::notice("x") << "saveButton"
                                            << "save";
        QTest::newRow("copy") << Phase::saved(clip) << "copyButton"
                              << "copy";
        QTest::newRow("claude") << Phase::copied(clip) << "claudeButton"
                                << "handoff";
        QTest::newRow("play") << Phase::handedOff(clip) << "playButton"
                              << "openClip";
        QTest::newRow("show in finder") << Phase::saved(clip) << "revealButton"
                                        << "reveal";
        QTest::newRow("resume") << Phase::paused() << "resumeButton"
                                << "togglePause";
        QTest::newRow("settings while paused") << Phase::paused() << "settingsButton"
                                               << "openSettings";
        QTest::newRow("retry") << Phase::failed("x") << "retryButton"
                               << "retry";
        QTest::newRow("privacy") << Phase::failed("x") << "privacyButton"
                                 << "openPrivacySettings";
    }
    void buttonsReachTheirActions() {
        QFETCH(Phase, phase);
        QFETCH(QString, button);
        QFETCH(QString, action);
        Fixture f(phase);
        f.show();
        auto* target = f.view->findChild<QAbstractButton*>(button);
        QVERIFY(target && target->isVisibleTo(f.view.get()));
        // A click in the rectangle's corner misses the capsule.
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(1, 1));
        QVERIFY(f.calls.isEmpty());
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
        QCOMPARE(f.calls, QStringList{action});
    }

    void hoverBrightensAtOnce_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<double>("idle");
        QTest::addColumn<double>("hovered");
        QTest::newRow("prominent pill") << "saveButton" << 0.92 << 1.0;
        QTest::newRow("plain pill") << "claudeButton" << 0.13 << 0.22;
        QTest::newRow("icon button") << "playButton" << 0.12 << 0.22;
    }
    void hoverBrightensAtOnce() {
        QFETCH(QString, button);
        QFETCH(double, idle);
        QFETCH(double, hovered);
        Fixture f(button == QLatin1String("saveButton") ? Phase::live() : Phase::saved(clip));
        f.show();
        QWidget* target = f.view->findChild<QWidget*>(button);
        auto opacity = [&] {
            if (auto* pill = qobject_cast<PillButton*>(target)) return pill->backgroundOpacity();
            return qobject_cast<IconButton*>(target)->backgroundOpacity();
        };
        QCOMPARE(opacity(), idle);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(target, &enter);
        QCOMPARE(opacity(), hovered);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(target, &leave);
        QCOMPARE(opacity(), idle);
    }

    void topRow_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<bool>("hasNotch");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<bool>("pulsing");
        QTest::newRow("live, no notch") << Phase::live() << false << "arrow.counterclockwise" << true;
        QTest::newRow("live beside a notch") << Phase::live() << true << "arrow.counterclockwise" << true;
        QTest::newRow("paused") << Phase::paused() << false << "pause.fill" << false;
        QTest::newRow("saved") << Phase::saved(clip) << false << "arrow.counterclockwise" << false;
        QTest::newRow("failed") << Phase::failed("x") << true << "arrow.counterclockwise" << false;
    }
    void topRow() {
        QFETCH(Phase, phase);
        QFETCH(bool, hasNotch);
        QFETCH(QString, symbol);
        QFETCH(bool, pulsing);
        Fixture f(phase, false);
        f.model.setGeometry(
            NotchGeometry(QRectF(0, 0, 1512, 982), hasNotch ? 180 : 120, hasNotch ? 32 : 24, hasNotch));
        NotchView& view = f.show();
        const NotchGeometry& g = f.model.geometry();
        const QRectF pill((view.width() - g.pillWidth()) / 2, 0, g.pillWidth(), g.notchHeight);
        QCOMPARE(view.shapePath().boundingRect(), pill);
        auto* icon = f.find<SymbolView>("statusSymbol");
        QCOMPARE(icon->symbol(), symbol);
        QCOMPARE(icon->geometry(), QRect(int(pill.left()), 0, 32, int(g.notchHeight)));
        auto* ring = f.find<BufferRing>("bufferRing");
        // Centred in the 32-point cell right of the notch (to the half pixel an odd size allows).
        QVERIFY(std::abs(ring->x() + ring->width() / 2.0 - (pill.right() - 16)) <= 0.5);
        QCOMPARE(ring->pulsing(), pulsing);
        auto* label = f.find<NotchText>("replayLabel");
        QCOMPARE(label->isVisibleTo(&view), !hasNotch);
        QCOMPARE(label->text(), QStringLiteral("REPLAY"));
        QVERIFY(!f.find<QWidget>("card")->isVisibleTo(&view));
    }

    void ringProgress_data() {
        QTest::addColumn<double>("buffered");
        QTest::addColumn<double>("limit");
        QTest::addColumn<double>("arc");
        QTest::newRow("empty: 2 % arc") << 0.0 << 30.0 << 0.02;
        QTest::newRow("half") << 15.0 << 30.0 << 0.5;
        QTest::newRow("over full: whole ring") << 51.0 << 30.0 << 1.0;
        QTest::newRow("limit 0: empty ring, no division") << 12.0 << 0.0 << 0.02;
        QTest::newRow("negative buffered") << -5.0 << 30.0 << 0.02;
        QTest::newRow("negative limit") << 5.0 << -30.0 << 0.02;
    }
    void ringProgress() {
        QFETCH(double, buffered);
        QFETCH(double, limit);
        QFETCH(double, arc);
        Fixture f(Phase::live(), false);
        f.model.setBuffered(buffered);
        f.model.setBufferLimit(limit);
        f.show();
        auto* ring = f.find<BufferRing>("bufferRing");
        QCOMPARE(ring->arcFraction(), arc);
        QVERIFY(std::isfinite(ring->progress()));
    }

    void ringGlidesAndPulses() {
        BufferRing ring;
        ring.setColor(Qt::red);
        ring.setProgress(0.2);
        ring.show();
        QCOMPARE(ring.arcFraction(), 0.2);
        QCOMPARE(ring.dotOpacity(), 1.0);
        ring.setProgress(0.8);
        QVERIFY(animatedBetween([&] { return ring.arcFraction(); }, 0.2, 0.8,
                                [&] { return ring.arcFraction() == 0.8; }));
        ring.setPulsing(true);
        double low = 1, high = 0;
        QTest::qWaitFor(
            [&] { // one full cycle takes two seconds
                low = std::min(low, ring.dotOpacity());
                high = std::max(high, ring.dotOpacity());
                return low < 0.35 && high > 0.95;
            },
            6000);
        QVERIFY2(low < 0.35 && high > 0.95, qPrintable(QStringLiteral("%1 … %2").arg(low).arg(high)));
        QVERIFY(low >= 0.3 && high <= 1.0);
        ring.setPulsing(false);
        QCOMPARE(ring.dotOpacity(), 1.0);
    }

    void clipThumb_data() {
        QTest::addColumn<QSize>("imageSize");
        QTest::newRow("no image") << QSize();
        QTest::newRow("wide image is cropped") << QSize(400, 100);
        QTest::newRow("tall image is cropped") << QSize(100, 400);
    }
    void clipThumb() {
        QFETCH(QSize, imageSize);
        QImage image;
        if (imageSize.isValid()) {
            image = QImage(imageSize, QImage::Format_RGB32);
            image.fill(QColor(0, 200, 0));
        }
        ClipThumb thumb;
        thumb.set(image, 30);
        QCOMPARE(thumb.size(), QSize(78, 48));
        QCOMPARE(thumb.durationText(), QStringLiteral("0:30"));
        const QImage drawn = thumb.grab().toImage();
        // Filled edge to edge (cropped, not letter-boxed): green just inside the top and left edges' middles.
        const QColor top = drawn.pixelColor(39, 2);
        const QColor left = drawn.pixelColor(2, 24);
        auto green = [](const QColor& c) { return c.red() < 100 && c.green() > 150; };
        QCOMPARE(green(top), !image.isNull());
        QCOMPARE(green(left), !image.isNull());
    }

    void frameSizesFollowTheGeometry_data() {
        QTest::addColumn<double>("notchWidth");
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<QSizeF>("shape");
        QTest::addColumn<QSize>("panel");
        QTest::newRow("substitute collapsed") << 120.0 << false << QSizeF(184, 24) << QSize(410, 168);
        QTest::newRow("substitute expanded") << 120.0 << true << QSizeF(390, 148) << QSize(410, 168);
        QTest::newRow("wide notch expanded") << 300.0 << true << QSizeF(404, 148) << QSize(424, 168);
    }
    void frameSizesFollowTheGeometry() {
        QFETCH(double, notchWidth);
        QFETCH(bool, expanded);
        QFETCH(QSizeF, shape);
        QFETCH(QSize, panel);
        Fixture f(Phase::live(), expanded);
        f.model.setGeometry(NotchGeometry(QRectF(0, 0, 1512, 982), notchWidth, 24, false));
        NotchView& view = f.show();
        QCOMPARE(view.size(), panel);
        const QRectF bounds = view.shapePath().boundingRect();
        QCOMPARE(bounds.size(), shape);
        QCOMPARE(bounds.top(), 0.0);
        QCOMPARE(bounds.center().x(), view.width() / 2.0);
    }

    void openingAnimatesWithTheSpring() {
        Fixture f(Phase::live(), false);
        NotchView& view = f.show();
        f.model.setExpanded(true);
        QVERIFY(view.isAnimating());
        QVERIFY(f.find<QWidget>("card")->isVisibleTo(&view));
        QVERIFY(animatedBetween([&] { return view.openness(); }, 0.05, 0.95,
                                [&] { return !view.isAnimating(); }));
        QCOMPARE(view.openness(), 1.0);
        f.model.setExpanded(false);
        QTRY_VERIFY(!view.isAnimating());
        QCOMPARE(view.openness(), 0.0);
        QVERIFY(!f.find<QWidget>("card")->isVisibleTo(&view));
    }

    void springCurve() {
        QCOMPARE(NotchAnimation::springPosition(0), 0.0);
        double peak = 0;
        for (int ms = 0; ms <= 1000; ms += 5)
            peak = std::max(peak, NotchAnimation::springPosition(ms / 1000.0));
        // A damping fraction of 0.82 overshoots by about 1 %.
        QVERIFY(peak > 1.005 && peak < 1.02);
        QVERIFY(std::abs(NotchAnimation::springPosition(NotchAnimation::springDurationMs / 1000.0) - 1) <
                0.002);
        QCOMPARE(NotchAnimation::spring().valueForProgress(1.0), 1.0);
    }

    void flashFadesInAndOut() {
        Fixture f(Phase::live(), false);
        NotchView& view = f.show();
        auto* layer = f.find<QWidget>("flash");
        QVERIFY(!layer->isVisibleTo(&view));
        f.model.setFlash(true);
        QTRY_COMPARE(view.flashOpacity(), 1.0);
        QVERIFY(layer->isVisibleTo(&view));
        f.model.setFlash(false);
        QVERIFY(animatedBetween([&] { return view.flashOpacity(); }, 0.05, 0.95,
                                [&] { return view.flashOpacity() == 0.0; }));
        QVERIFY(!layer->isVisibleTo(&view));
    }

private:
    std::unique_ptr<FakePreferencesStore> m_store;
};

FERROVANE_TEST_MAIN(NotchViewTest)
#include "tst_notchview.moc"
