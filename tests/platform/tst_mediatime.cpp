#include "base/MediaTime.h"
#include "support/TestEnvironment.h"

class TestMediaTime : public QObject {
    Q_OBJECT
private slots:
    void compareAndSubtract_data() {
        QTest::addColumn<MediaTime>("a");
        QTest::addColumn<MediaTime>("b");
        QTest::addColumn<int>("order");
        QTest::addColumn<MediaTime>("difference");
        QTest::newRow("one ns later") << MediaTime::fromNanoseconds(5'000'000'001) << MediaTime(3000, 600)
                                      << 1 << MediaTime::fromNanoseconds(1);
        // Doubles would call these equal; the cross product does not.
        QTest::newRow("beyond double precision")
            << MediaTime(INT64_C(9007199254740993), 1) << MediaTime(INT64_C(9007199254740992), 1) << 1
            << MediaTime(1, 1);
        QTest::newRow("large values, different scales")
            << MediaTime(INT64_C(4000000000000000000), 1'000'000'000)
            << MediaTime(INT64_C(2400000000000), 600) << 0 << MediaTime::zero();
        // 1/2 s is 1.5 thirds: half away from zero.
        QTest::newRow("rounded to the larger scale")
            << MediaTime(1, 2) << MediaTime(0, 3) << 1 << MediaTime(2, 3);
        QTest::newRow("to a negative") << MediaTime(1, 600) << MediaTime(2, 600) << -1 << MediaTime(-1, 600);
        QTest::newRow("invalid after valid")
            << MediaTime::invalid() << MediaTime(INT64_MAX, 1) << 1 << MediaTime::invalid();
        QTest::newRow("invalid equals invalid")
            << MediaTime::invalid() << MediaTime::invalid() << 0 << MediaTime::invalid();
    }
    void compareAndSubtract() {
        QFETCH(MediaTime, a);
        QFETCH(MediaTime, b);
        QFETCH(int, order);
        QFETCH(MediaTime, difference);
        const auto found = a <=> b;
        QCOMPARE(found < 0 ? -1 : found > 0 ? 1 : 0, order);
        // Invalid equals only invalid, so this also checks validity.
        QCOMPARE(a - b, difference);
    }

    void fromSeconds() {
        QCOMPARE(MediaTime::fromSeconds(2.3009), MediaTime(1381, 600)); // the nearest 600th
        QCOMPARE(MediaTime::fromSeconds(-1.0), MediaTime(-600, 600));
        QVERIFY(!MediaTime::fromSeconds(std::nan("")).isValid());
    }
};

FERROVANE_TEST_MAIN(TestMediaTime)
#include "tst_mediatime.moc"
