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

#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>

namespace {

const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/home/user/Movies/Ferrovane/replay-1.mp4"));

// A view over a model with the sample data, settled; clicks land in `calls`.
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
    void show() {
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
    }
    template <typename T> T* find(const char* name) const {
        return view->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return find<NotchText>(name)->text(); }

    // The controls row from the widget tree, left to right; "space" where a gap pushes items apart.
    QStringList controls() const {
        auto* row = find<QWidget>("controls");
        std::vector<QWidget*> items;
        for (QWidget* child : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(row)) items.push_back(child);
        std::sort(items.begin(), items.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        QStringList out;
        int nextX = 0;
        for (QWidget* item : items) {
            if (item->x() > nextX + 1) out << QStringLiteral("space");
            if (auto* pill = qobject_cast<PillButton*>(item))
                out << QStringLiteral("pill %1 [%2]%3")
                           .arg(pill->title(), pill->symbol(),
                                pill->prominent() ? QStringLiteral(" prominent") : "");
            else if (auto* icon = qobject_cast<IconButton*>(item))
                out << QStringLiteral("icon [%1] \"%2\"").arg(icon->symbol(), icon->toolTip());
            else if (auto* chips = qobject_cast<LengthChips*>(item)) {
                QStringList labels;
                for (QAbstractButton* chip : chips->chips())
                    labels << chip->text();
                out << QStringLiteral("chips ") + labels.join(QLatin1Char(','));
            }
            nextX = item->x() + item->width() + 6;
        }
        if (!items.empty() && nextX - 6 < row->width() - 1) out << QStringLiteral("space");
        return out;
    }
};

const QString pauseIcon = QStringLiteral("icon [pause.fill] \"Pause and clear the buffer\"");
const QString gearIcon = QStringLiteral("icon [gearshape] \"Settings\"");
const QString save30 = QStringLiteral("pill Save 30s [record.circle] prominent");

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
        QTest::addColumn<bool>("keyCap");
        QTest::addColumn<QStringList>("controls");
        const QStringList live{"chips 10s,30s", "space", pauseIcon, gearIcon, save30};
        const QStringList clipControls{"pill Copy [doc.on.doc] prominent", "pill Claude [sparkles]", "space",
                                       "icon [play.fill] \"Play\"", "icon [folder] \"Show in Folder\""};
        QTest::newRow("working") << Phase::working("Saving replay…") << "Saving replay…"
                                 << "One moment." << false << QStringList();
        QTest::newRow("starting") << Phase::starting() << "Starting replay buffer…"
                                  << "Your desktop may ask which screen to share." << false << QStringList();
        QTest::newRow("live") << Phase::live() << "Instant Replay"
                              << "Last 30s ready to save. Works from any app." << true << live;
        QTest::newRow("notice") << Phase::notice("Couldn't extract frames") << "Couldn't extract frames"
                                << "Still recording in the background." << false << live;
        QTest::newRow("saved") << Phase::saved(clip) << "Replay saved"
                               << "1:15 saved to Movies › Ferrovane" << false << clipControls;
        QTest::newRow("copied") << Phase::copied(clip) << "Clip copied"
                                << "Paste it into Slack, Messages, email or a bug report." << false
                                << clipControls;
        QTest::newRow("handedOff")
            << Phase::handedOff(clip) << "Ready for Claude"
            << "A prompt with 6 frames is on your clipboard. Paste it into Claude Code." << false
            << clipControls;
        QTest::newRow("failed") << Phase::failed("No display") << "Replay can't record"
                                << "No display" << false
                                << QStringList{"space", "pill Retry [arrow.clockwise]",
                                               "pill Open Privacy Settings [lock.shield] prominent"};
        QTest::newRow("paused") << Phase::paused() << "Replay is paused"
                                << "Nothing is being recorded. The buffer was cleared." << false
                                << QStringList{"space", gearIcon, "pill Resume [play.fill] prominent"};
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(bool, keyCap);
        QFETCH(QStringList, controls);
        Fixture f(phase);
        f.show();
        QCOMPARE(f.text("title"), title);
        QCOMPARE(f.text("subtitle"), subtitle);
        QCOMPARE(f.find<KeyCap>("keyCap")->isVisibleTo(f.view.get()), keyCap);
        QCOMPARE(f.controls(), controls);
        QCOMPARE(f.find<NotchText>("title")->lines().size(), 1);
        QVERIFY(f.find<NotchText>("subtitle")->lines().size() <= 2);
    }

    void liveSubtitle_data() {
        QTest::addColumn<double>("buffered");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("0.4 s") << 0.4 << "Filling the buffer…";
        QTest::newRow("0.5 s rounds to 1") << 0.5 << "Last 1s ready to save. Works from any app.";
        QTest::newRow("negative") << -3.0 << "Filling the buffer…";
    }
    void liveSubtitle() {
        QFETCH(double, buffered);
        QFETCH(QString, subtitle);
        Fixture f(Phase::live());
        f.model.setBuffered(buffered);
        f.show();
        QCOMPARE(f.text("subtitle"), subtitle);
    }

    void chipClickChangesSaveLength() {
        Fixture f(Phase::live());
        f.show();
        QAbstractButton* ten = f.find<LengthChips>("lengthChips")->chips().front();
        QTest::mouseClick(ten, Qt::LeftButton, {}, ten->rect().center());
        QCOMPARE(f.model.saveLength(), 10.0);
        QCOMPARE(f.find<PillButton>("saveButton")->title(), QStringLiteral("Save 10s"));
        QVERIFY(f.calls.isEmpty());
        // A single option leaves nothing to choose: no chips.
        f.model.setSaveOptions({10});
        QCOMPARE(f.controls(),
                 (QStringList{"space", pauseIcon, gearIcon, "pill Save 10s [record.circle] prominent"}));
    }

    void buttonsReachTheirActions_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("action");
        const std::tuple<Phase, const char*, const char*> rows[] = {
            {Phase::live(), "saveButton", "save"},
            {Phase::live(), "pauseButton", "togglePause"},
            {Phase::live(), "settingsButton", "openSettings"},
            {Phase::saved(clip), "copyButton", "copy"},
            {Phase::copied(clip), "claudeButton", "handoff"},
            {Phase::handedOff(clip), "playButton", "openClip"},
            {Phase::saved(clip), "revealButton", "reveal"},
            {Phase::paused(), "resumeButton", "togglePause"},
            {Phase::failed("x"), "retryButton", "retry"},
            {Phase::failed("x"), "privacyButton", "openPrivacySettings"},
        };
        for (const auto& [phase, button, action] : rows)
            QTest::newRow(button) << phase << QString(button) << QString(action);
    }
    void buttonsReachTheirActions() {
        QFETCH(Phase, phase);
        QFETCH(QString, button);
        QFETCH(QString, action);
        Fixture f(phase);
        f.show();
        auto* target = f.view->findChild<QAbstractButton*>(button);
        QVERIFY(target && target->isVisibleTo(f.view.get()));
        QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
        QCOMPARE(f.calls, QStringList{action});
    }

    void ringProgress_data() {
        QTest::addColumn<double>("buffered");
        QTest::addColumn<double>("limit");
        QTest::addColumn<double>("arc");
        QTest::newRow("empty: 2 % arc") << 0.0 << 30.0 << 0.02;
        QTest::newRow("half") << 15.0 << 30.0 << 0.5;
        QTest::newRow("over full: whole ring") << 51.0 << 30.0 << 1.0;
        QTest::newRow("limit 0: no division") << 12.0 << 0.0 << 0.02;
        QTest::newRow("negative buffered") << -5.0 << 30.0 << 0.02;
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

private:
    std::optional<FakeSettings> m_settings;
};

FERROVANE_TEST_MAIN(NotchViewTest)
#include "tst_notchview.moc"
