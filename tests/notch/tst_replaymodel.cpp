#include "notch/ReplayModel.h"
#include "settings/Settings.h"

#include "support/Fakes.h"
#include "support/TestEnvironment.h"

#include <QMetaMethod>
#include <QSignalSpy>

#include <functional>
#include <optional>

using Mutation = std::function<void(ReplayModel&)>;
Q_DECLARE_METATYPE(Mutation)

class ReplayModelTest : public QObject {
    Q_OBJECT
private slots:
    void init() { m_settings.emplace(); }
    void cleanup() { m_settings.reset(); }

    void changeSignals_data() {
        QTest::addColumn<Mutation>("mutation");
        QTest::addColumn<QByteArray>("signal"); // empty: none may fire
        QImage thumbnail(78, 48, QImage::Format_RGB32);
        thumbnail.fill(Qt::red);
        const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/tmp/replay-1.mp4"));
        const std::pair<const char*, Mutation> rows[] = {
            {"phaseChanged", [](ReplayModel& m) { m.setPhase(Phase::live()); }},
            {"expandedChanged", [](ReplayModel& m) { m.setExpanded(true); }},
            {"flashChanged", [](ReplayModel& m) { m.setFlash(true); }},
            {"geometryChanged",
             [](ReplayModel& m) { m.setGeometry(NotchGeometry(QRectF(0, 0, 1512, 982), 204, 32, true)); }},
            {"bufferedChanged", [](ReplayModel& m) { m.setBuffered(0.5); }},
            {"bufferLimitChanged", [](ReplayModel& m) { m.setBufferLimit(60); }},
            {"saveLengthChanged", [](ReplayModel& m) { m.setSaveLength(10); }},
            {"saveOptionsChanged",
             [](ReplayModel& m) {
                 m.setSaveOptions({10, 30, 60});
             }},
            {"lastClipChanged", [clip](ReplayModel& m) { m.setLastClip(clip); }},
            {"lastThumbnailChanged", [thumbnail](ReplayModel& m) { m.setLastThumbnail(thumbnail); }},
            {"lastDurationChanged", [](ReplayModel& m) { m.setLastDuration(75.4); }},
            {"", [](ReplayModel& m) { m.setRecording(true); }},
        };
        for (const auto& [signal, mutation] : rows)
            QTest::newRow(*signal ? signal : "recording is not published") << mutation << QByteArray(signal);
    }
    void changeSignals() {
        QFETCH(Mutation, mutation);
        QFETCH(QByteArray, signal);
        ReplayModel model;
        std::vector<std::pair<QByteArray, std::unique_ptr<QSignalSpy>>> spies;
        const QMetaObject* meta = model.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                spies.emplace_back(meta->method(i).name(),
                                   std::make_unique<QSignalSpy>(&model, meta->method(i)));
        const QByteArrayList expected = signal.isEmpty() ? QByteArrayList() : QByteArrayList{signal};
        for (int round = 0; round < 2; ++round) { // the same value again is no change
            mutation(model);
            QByteArrayList fired;
            for (auto& [name, spy] : spies)
                for (int n = 0; n < spy->count(); ++n)
                    fired << name;
            QCOMPARE(fired, expected);
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
        const QUrl a = QUrl::fromLocalFile(QStringLiteral("/clips/a.mp4"));
        const QUrl b = QUrl::fromLocalFile(QStringLiteral("/clips/b.mp4"));
        QTest::addColumn<Phase>("left");
        QTest::addColumn<Phase>("right");
        QTest::addColumn<bool>("equal");
        QTest::newRow("other clip") << Phase::saved(a) << Phase::saved(b) << false;
        QTest::newRow("saved != copied") << Phase::saved(a) << Phase::copied(a) << false;
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

private:
    std::optional<FakeSettings> m_settings;
};

FERROVANE_TEST_MAIN(ReplayModelTest)
#include "tst_replaymodel.moc"
