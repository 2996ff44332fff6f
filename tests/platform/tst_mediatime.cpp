#include "platform/MediaTime.h"
#include "support/TestEnvironment.h"

class TestMediaTime : public QObject {
    Q_OBJECT
private slots:
    void compare_data() {
        QTest::addColumn<MediaTime>("a");
        QTest::addColumn<MediaTime>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("5 s at 600 equals 5 s in ns")
            << MediaTime(3000, 600) << MediaTime::fromNanoseconds(5'000'000'000) << 0;
        QTest::newRow("one ns later")
            << MediaTime::fromNanoseconds(5'000'000'001) << MediaTime(3000, 600) << 1;
        // Doubles would call these equal; the cross product does not.
        QTest::newRow("beyond double precision")
            << MediaTime(INT64_C(9007199254740993), 1) << MediaTime(INT64_C(9007199254740992), 1) << 1;
        QTest::newRow("large values, different scales")
            << MediaTime(INT64_C(4000000000000000000), 1'000'000'000)
            << MediaTime(INT64_C(2400000000000), 600) << 0;
        QTest::newRow("invalid after valid") << MediaTime::invalid() << MediaTime(INT64_MAX, 1) << 1;
        QTest::newRow("invalid equals invalid") << MediaTime::invalid() << MediaTime::invalid() << 0;
        QTest::newRow("negative") << MediaTime(-1, 600) << MediaTime::zero() << -1;
    }
    void compare() {
        QFETCH(MediaTime, a);
        QFETCH(MediaTime, b);
        QFETCH(int, expected);
        const auto order = a <=> b;
        QCOMPARE(order < 0 ? -1 : order > 0 ? 1 : 0, expected);
    }

    void subtract_data() {
        QTest::addColumn<MediaTime>("a");
        QTest::addColumn<MediaTime>("b");
        QTest::addColumn<MediaTime>("expected");
        QTest::newRow("ns minus 600ths")
            << MediaTime::fromNanoseconds(112'300'000'000) << MediaTime::fromSeconds(5.0)
            << MediaTime::fromNanoseconds(107'300'000'000);
        QTest::newRow("to a negative") << MediaTime(1, 600) << MediaTime(2, 600) << MediaTime(-1, 600);
        QTest::newRow("invalid operand") << MediaTime::invalid() << MediaTime(1, 600) << MediaTime::invalid();
    }
    void subtract() {
        QFETCH(MediaTime, a);
        QFETCH(MediaTime, b);
        QFETCH(MediaTime, expected);
        const MediaTime difference = a - b;
        QCOMPARE(difference, expected);
        QCOMPARE(difference.isValid(), expected.isValid());
    }

    void fromSeconds_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<qint64>("value600");
        QTest::newRow("whole") << 35.0 << qint64(21000);
        QTest::newRow("rounds to nearest") << 2.3009 << qint64(1381);
        QTest::newRow("rounds down") << 0.0008 << qint64(0);
        QTest::newRow("negative") << -1.0 << qint64(-600);
    }
    void fromSeconds() {
        QFETCH(double, seconds);
        QFETCH(qint64, value600);
        const MediaTime time = MediaTime::fromSeconds(seconds);
        QCOMPARE(time.timescale(), 600);
        QCOMPARE(time.value(), value600);
        QVERIFY(!MediaTime::fromSeconds(std::nan("")).isValid());
    }
};

FERROVANE_TEST_MAIN(TestMediaTime)
#include "tst_mediatime.moc"
