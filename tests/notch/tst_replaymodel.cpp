#include "notch/ReplayModel.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QMetaMethod>
#include <QSignalSpy>

#include <functional>

using Mutation = std::function<void(ReplayModel&)>;
Q_DECLARE_METATYPE(Mutation)

class ReplayModelTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_store = std::make_unique<FakePreferencesStore>();
        Settings::useStore(m_store.get());
        Settings::registerDefaults();
    }
    void cleanup() { Settings::useStore(nullptr); }

    void initialValues_data() {
        QTest::addColumn<QVariant>("storedBuffer");
        QTest::addColumn<double>("limit");
        QTest::addColumn<double>("saveLength");
        QTest::addColumn<std::vector<double>>("options");
        QTest::newRow("nothing stored") << QVariant() << 30.0 << 30.0 << std::vector<double>{10, 30};
        QTest::newRow("15 s buffer") << QVariant(15.0) << 15.0 << 15.0 << std::vector<double>{10, 15};
        QTest::newRow("60 s buffer") << QVariant(60.0) << 60.0 << 30.0 << std::vector<double>{10, 30, 60};
        QTest::newRow("stored 600 is clamped")
            << QVariant(600.0) << 300.0 << 30.0 << std::vector<double>{60, 120, 300};
    }
    void initialValues() {
        QFETCH(QVariant, storedBuffer);
        QFETCH(double, limit);
        QFETCH(double, saveLength);
        QFETCH(std::vector<double>, options);
        if (storedBuffer.isValid()) m_store->setValue(Settings::Keys::buffer, storedBuffer);
        const ReplayModel model;
        QCOMPARE(model.bufferLimit(), limit);
        QCOMPARE(model.saveLength(), saveLength);
        QCOMPARE(model.saveOptions(), options);
        QVERIFY(model.phase() == Phase::starting());
        QCOMPARE(model.expanded(), false);
        QCOMPARE(model.flash(), false);
        QVERIFY(model.geometry() == NotchGeometry());
        QCOMPARE(model.buffered(), 0.0);
        QVERIFY(model.lastClip().isEmpty());
        QVERIFY(model.lastThumbnail().isNull());
        QCOMPARE(model.lastDuration(), 0.0);
        QCOMPARE(model.recording(), false);
    }

    void changeSignals_data() {
        QTest::addColumn<Mutation>("mutation");
        QTest::addColumn<QByteArray>("signal"); // empty: none may fire
        QImage thumbnail(78, 48, QImage::Format_RGB32);
        thumbnail.fill(Qt::red);
        const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/tmp/replay-1.mp4"));
        auto row = [](const char* name, Mutation m, const char* signal) {
            QTest::newRow(name) << m << QByteArray(signal);
        };
        row(
            "phase", [](ReplayModel& m) { m.setPhase(Phase::live()); }, "phaseChanged");
        row(
            "phase text",
            [](ReplayModel& m) { m.setPhase(Phase::working(QStringLiteral("Saving replay…"))); },
            "phaseChanged");
        row(
            "expanded", [](ReplayModel& m) { m.setExpanded(true); }, "expandedChanged");
        row(
            "flash", [](ReplayModel& m) { m.setFlash(true); }, "flashChanged");
        row(
            "geometry",
            [](ReplayModel& m) { m.setGeometry(NotchGeometry(QRectF(0, 0, 1512, 982), 204, 32, true)); },
            "geometryChanged");
        row(
            "buffered", [](ReplayModel& m) { m.setBuffered(0.5); }, "bufferedChanged");
        row(
            "bufferLimit", [](ReplayModel& m) { m.setBufferLimit(60); }, "bufferLimitChanged");
        row(
            "saveLength", [](ReplayModel& m) { m.setSaveLength(10); }, "saveLengthChanged");
        row(
            "saveOptions",
            [](ReplayModel& m) {
                m.setSaveOptions({10, 30, 60});
            },
            "saveOptionsChanged");
        row(
            "lastClip", [clip](ReplayModel& m) { m.setLastClip(clip); }, "lastClipChanged");
        row(
            "lastThumbnail", [thumbnail](ReplayModel& m) { m.setLastThumbnail(thumbnail); },
            "lastThumbnailChanged");
        row(
            "lastDuration", [](ReplayModel& m) { m.setLastDuration(75.4); }, "lastDurationChanged");
        row(
            "recording is not published", [](ReplayModel& m) { m.setRecording(true); }, "");
    }
    void changeSignals() {
        QFETCH(Mutation, mutation);
        QFETCH(QByteArray, signal);
        ReplayModel model;
        std::vector<std::pair<QByteArray, std::unique_ptr<QSignalSpy>>> spies;
        const QMetaObject* meta = model.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                spies.emplace_back(method.name(), std::make_unique<QSignalSpy>(&model, method));
        }
        QCOMPARE(spies.size(), size_t(11));
        auto counts = [&] {
            QStringList fired;
            for (auto& [name, spy] : spies)
                for (int n = 0; n < spy->count(); ++n)
                    fired << QString::fromLatin1(name);
            return fired;
        };
        mutation(model);
        const QStringList expected =
            signal.isEmpty() ? QStringList() : QStringList{QString::fromLatin1(signal)};
        QCOMPARE(counts(), expected);
        // The same value again is no change.
        mutation(model);
        QCOMPARE(counts(), expected);
    }

    void formatDuration_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << "0:00";
        QTest::newRow("59.4 rounds down") << 59.4 << "0:59";
        QTest::newRow("59.5 rounds up") << 59.5 << "1:00";
        QTest::newRow("61") << 61.0 << "1:01";
        QTest::newRow("75.4") << 75.4 << "1:15";
        QTest::newRow("125") << 125.0 << "2:05";
        QTest::newRow("no hour field") << 3600.0 << "60:00";
        QTest::newRow("negative") << -3.0 << "0:00";
        QTest::newRow("-0.5 rounds away from zero, then clamps") << -0.5 << "0:00";
    }
    void formatDuration() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(::formatDuration(seconds), text);
    }

    void phaseEquality_data() {
        const QUrl a = QUrl::fromLocalFile(QStringLiteral("/clips/a.mp4"));
        const QUrl b = QUrl::fromLocalFile(QStringLiteral("/clips/b.mp4"));
        QTest::addColumn<Phase>("left");
        QTest::addColumn<Phase>("right");
        QTest::addColumn<bool>("equal");
        QTest::newRow("saved(a) == saved(a)") << Phase::saved(a) << Phase::saved(a) << true;
        QTest::newRow("saved(a) != saved(b)") << Phase::saved(a) << Phase::saved(b) << false;
        QTest::newRow("saved(a) != copied(a)") << Phase::saved(a) << Phase::copied(a) << false;
        QTest::newRow("copied(a) != handedOff(a)") << Phase::copied(a) << Phase::handedOff(a) << false;
        QTest::newRow("working(x) != notice(x)") << Phase::working("x") << Phase::notice("x") << false;
        QTest::newRow("notice(x) != failed(x)") << Phase::notice("x") << Phase::failed("x") << false;
        QTest::newRow("working(x) == working(x)") << Phase::working("x") << Phase::working("x") << true;
        QTest::newRow("working(x) != working(y)") << Phase::working("x") << Phase::working("y") << false;
        QTest::newRow("canonically equivalent texts") << Phase::notice(QStringLiteral("caf\u00e9"))
                                                      << Phase::notice(QStringLiteral("cafe\u0301")) << true;
        QTest::newRow("live == live") << Phase::live() << Phase::live() << true;
        QTest::newRow("live != paused") << Phase::live() << Phase::paused() << false;
        QTest::newRow("starting == default") << Phase::starting() << Phase() << true;
    }
    void phaseEquality() {
        QFETCH(Phase, left);
        QFETCH(Phase, right);
        QFETCH(bool, equal);
        QCOMPARE(left == right, equal);
        QCOMPARE(right == left, equal);
    }

private:
    std::unique_ptr<FakePreferencesStore> m_store;
};

FERROVANE_TEST_MAIN(ReplayModelTest)
#include "tst_replaymodel.moc"
