#include "platform/linux/capture/FramePool.h"

#include <QTest>

#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// How many of a buffer's pages are resident.
int residentPages(const uint8_t* memory, size_t bytes) {
    const auto page = size_t(sysconf(_SC_PAGESIZE));
    const auto address = reinterpret_cast<uintptr_t>(memory) / page * page;
    const size_t length = reinterpret_cast<uintptr_t>(memory) + bytes - address;
    std::vector<unsigned char> flags((length + page - 1) / page);
    if (mincore(reinterpret_cast<void*>(address), length, flags.data()) != 0) return -1;
    int resident = 0;
    for (unsigned char flag : flags)
        resident += flag & 1;
    return resident;
}

} // namespace

class TestFramePool : public QObject {
    Q_OBJECT
private slots:
    // A burst takes three buffers; after a quiet spell the two above the one in steady use give their
    // pages back, and come back whole (all zeros, then written) when the pipeline backs up again.
    void spareBuffersGiveTheirPagesBack_data() {
        QTest::addColumn<bool>("shared");
        QTest::newRow("private") << false;
        QTest::newRow("System V shared") << true;
    }
    void spareBuffersGiveTheirPagesBack() {
        QFETCH(bool, shared);
        const QSize size(256, 256);
        std::shared_ptr<FramePool> pool = shared ? FramePool::createShared(
                                                       4, size, [](int) { return 1u; }, [](uint32_t) {})
                                                 : FramePool::createPrivate(4, size);
        QVERIFY(pool);
        pool->setSpareAfter(500ms);
        const size_t bytes = pool->bytesPerBuffer();
        const int whole = int(bytes / size_t(sysconf(_SC_PAGESIZE)));

        std::vector<FramePool::Lease> burst;
        for (int i = 0; i < 3; ++i) {
            burst.push_back(*pool->acquire());
            std::memset(burst.back().pixels, 0x5a, bytes);
        }
        std::vector<uint8_t*> memory;
        for (const FramePool::Lease& lease : burst)
            memory.push_back(lease.pixels);
        burst.clear();

        // Within the spell nothing is given back.
        std::optional<FramePool::Lease> steady = pool->acquire();
        QCOMPARE(steady->pixels, memory[0]);
        steady.reset();
        QVERIFY(residentPages(memory[2], bytes) >= whole - 1);

        QTest::qWait(600);
        steady = pool->acquire();
        QVERIFY(residentPages(memory[0], bytes) >= whole - 1);
        // The partial pages at either end of a private buffer stay.
        QVERIFY(residentPages(memory[1], bytes) <= 2);
        QVERIFY(residentPages(memory[2], bytes) <= 2);

        std::optional<FramePool::Lease> backedUp = pool->acquire();
        QCOMPARE(backedUp->pixels, memory[1]);
        QCOMPARE(backedUp->pixels[bytes / 2], uint8_t(0));
    }
};

QTEST_GUILESS_MAIN(TestFramePool)
#include "tst_framepool.moc"
