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

namespace {

const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/home/user/Movies/Ferrovane/replay-1.mp4"));

// A view over a model with the sample data, settled; clicks land in `calls`.
struct Fixture {
    ReplayModel model;
    QStringList calls;
    std::unique_ptr<NotchView> view;

    explicit Fixture(const Phase& phase) {
        model.setGeometry(NotchGeometry(QRectF(0, 0, 1512, 982), 120, 24, false));
        model.setBuffered(29.6);
        model.setBufferLimit(30);
        model.setSaveOptions({10, 30});
        model.setSaveLength(30);
        model.setLastClip(clip);
        model.setLastDuration(75.4);
        model.setPhase(phase);
        model.setExpanded(true);
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

    // The visible items of the controls row, left to right.
    std::vector<QWidget*> items() const {
        auto* row = find<QWidget>("controls");
        std::vector<QWidget*> items;
        for (QWidget* child : row->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (child->isVisibleTo(row)) items.push_back(child);
        std::sort(items.begin(), items.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        return items;
    }

    // The controls row as text; "space" where a gap pushes items apart.
    QStringList controls() const {
        auto* row = find<QWidget>("controls");
        const std::vector<QWidget*> items = this->items();
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
        QTest::addColumn<QStringList>("actions"); // what clicking each button calls, left to right
        const QStringList live{"chips 10s,30s", "space", pauseIcon, gearIcon, save30};
        const QStringList liveActions{"togglePause", "openSettings", "save"};
        const QStringList clipControls{"pill Copy [doc.on.doc] prominent", "pill Claude [sparkles]", "space",
                                       "icon [play.fill] \"Play\"", "icon [folder] \"Show in Folder\""};
        const QStringList clipActions{"copy", "handoff", "openClip", "reveal"};
        QTest::newRow("working") << Phase::working("Saving replay…") << "Saving replay…"
                                 << "One moment." << false << QStringList() << QStringList();
        QTest::newRow("starting") << Phase::starting() << "Starting replay buffer…"
                                  << "Your desktop may ask which screen to share." << false << QStringList()
                                  << QStringList();
        QTest::newRow("live") << Phase::live() << "Instant Replay"
                              << "Last 30s ready to save. Works from any app." << true << live << liveActions;
        QTest::newRow("notice") << Phase::notice("Couldn't extract frames") << "Couldn't extract frames"
                                << "Still recording in the background." << false << live << liveActions;
        QTest::newRow("saved") << Phase::saved(clip) << "Replay saved"
                               << "1:15 saved to Movies › Ferrovane" << false << clipControls << clipActions;
        QTest::newRow("copied") << Phase::copied(clip) << "Clip copied"
                                << "Paste it into Slack, Messages, email or a bug report." << false
                                << clipControls << clipActions;
        QTest::newRow("handedOff")
            << Phase::handedOff(clip) << "Ready for Claude"
            << "A prompt with 6 frames is on your clipboard. Paste it into Claude Code." << false
            << clipControls << clipActions;
        QTest::newRow("failed") << Phase::failed("No display") << "Replay can't record"
                                << "No display" << false
                                << QStringList{"space", "pill Retry [arrow.clockwise]",
                                               "pill Open Privacy Settings [lock.shield] prominent"}
                                << QStringList{"retry", "openPrivacySettings"};
        QTest::newRow("paused") << Phase::paused() << "Replay is paused"
                                << "Nothing is being recorded. The buffer was cleared." << false
                                << QStringList{"space", gearIcon, "pill Resume [play.fill] prominent"}
                                << QStringList{"openSettings", "togglePause"};
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, title);
        QFETCH(QString, subtitle);
        QFETCH(bool, keyCap);
        QFETCH(QStringList, controls);
        QFETCH(QStringList, actions);
        Fixture f(phase);
        f.show();
        QCOMPARE(f.text("title"), title);
        QCOMPARE(f.text("subtitle"), subtitle);
        QCOMPARE(f.find<KeyCap>("keyCap")->isVisibleTo(f.view.get()), keyCap);
        QCOMPARE(f.controls(), controls);
        QCOMPARE(f.find<NotchText>("title")->lines().size(), 1);
        QVERIFY(f.find<NotchText>("subtitle")->lines().size() <= 2);
        for (QWidget* item : f.items())
            if (auto* button = qobject_cast<QAbstractButton*>(item))
                QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QCOMPARE(f.calls, actions);
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

    // The live subtitle and the ring as the buffer fills.
    void buffered_data() {
        QTest::addColumn<double>("buffered");
        QTest::addColumn<double>("limit");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<double>("arc");
        const QString filling = QStringLiteral("Filling the buffer…");
        auto ready = [](int s) {
            return QStringLiteral("Last %1s ready to save. Works from any app.").arg(s);
        };
        QTest::newRow("0.4 s: 2 % arc") << 0.4 << 30.0 << filling << 0.02;
        QTest::newRow("0.5 s rounds to 1") << 0.5 << 30.0 << ready(1) << 0.02;
        QTest::newRow("half") << 15.0 << 30.0 << ready(15) << 0.5;
        QTest::newRow("over full: whole ring") << 51.0 << 30.0 << ready(51) << 1.0;
        QTest::newRow("limit 0: no division") << 12.0 << 0.0 << ready(12) << 0.02;
        QTest::newRow("negative") << -5.0 << 30.0 << filling << 0.02;
    }
    void buffered() {
        QFETCH(double, buffered);
        QFETCH(double, limit);
        QFETCH(QString, subtitle);
        QFETCH(double, arc);
        Fixture f(Phase::live());
        f.model.setBuffered(buffered);
        f.model.setBufferLimit(limit);
        f.show();
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
