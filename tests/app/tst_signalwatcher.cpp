#include "app/SignalWatcher.h"
#include "support/TestEnvironment.h"

#include <QtTest>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
const QList<int> watched{SIGINT, SIGTERM, SIGUSR1};

// Threads as the encoder's: some keep both cores busy, some wake up often; all started after the signals
// were blocked.
struct BusyThreads {
    std::atomic<bool> stop = false;
    std::vector<std::thread> threads;
    BusyThreads() {
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([this] {
                while (!stop)
                    std::atomic_signal_fence(std::memory_order_seq_cst);
            });
            threads.emplace_back([this] {
                while (!stop)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            });
        }
    }
    ~BusyThreads() {
        stop = true;
        for (std::thread& thread : threads)
            thread.join();
    }
};
} // namespace

class TestSignalWatcher : public QObject {
    Q_OBJECT
private slots:
    // A save sent just before a quit is read with it or before it, never after: the quit would end the
    // process first.
    void saveNeverComesAfterQuit() {
        SignalWatcher watcher(watched);
        QList<int> received;
        connect(&watcher, &SignalWatcher::received, this, [&](const QList<int>& batch) {
            // Within a batch the receiver runs saves first.
            for (int number : batch)
                if (number == SIGUSR1) received << number;
            for (int number : batch)
                if (number != SIGUSR1) received << number;
        });
        BusyThreads busy;
        for (int round = 0; round < 1000; ++round) {
            received.clear();
            const int quit = round % 2 ? SIGINT : SIGTERM;
            // From another process, as a script sends them, while this thread waits for it.
            const pid_t parent = ::getpid();
            const pid_t sender = ::fork();
            if (sender == 0) {
                ::kill(parent, SIGUSR1);
                ::kill(parent, quit);
                ::_exit(0);
            }
            ::waitpid(sender, nullptr, 0);
            QVERIFY2(QTest::qWaitFor([&] { return received.contains(quit); }, 2000), "the quit never came");
            QCOMPARE(received, (QList<int>{SIGUSR1, quit}));
        }
    }
};

// Blocked before the test's own threads (its watchdog) start, as the application does before its own.
int main(int argc, char** argv) {
    SignalWatcher::blockInEveryThread(watched);
    TestEnvironment environment;
    QCoreApplication app(argc, argv);
    TestSignalWatcher test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_signalwatcher.moc"
