#include "app/RecorderRecording.h"
#include "support/FakeMedia.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>

namespace {

// This process's threads, and how many of them are recorders' work queues.
std::pair<int, int> threads() {
    int queues = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks)
        queues += readFile(QStringLiteral("/proc/self/task/%1/comm").arg(task)).startsWith("ferrovane.captu");
    return {int(tasks.size()), queues};
}

} // namespace

// The application's handle on a recorder, as the controller replaces recorders: started, stopped, discarded
// and let go, on the fakes.
class TestRecorderRecording : public QObject {
    Q_OBJECT
private slots:
    // A recorder must never be destroyed on its own work queue (it would wait for itself), and every
    // replacement must give back its thread. Discards finish in every order relative to the handle going.
    void replacementsLeaveNothingBehind() {
        RecorderRig rig;
        std::pair<int, int> before;
        // The first round only brings up the threads that stay (the shared pool's); its recorder is gone
        // once the main thread has let go of it.
        for (int i = 0; i <= 50; ++i) {
            if (i == 1) QTRY_VERIFY((before = threads()).second == 0 && !QFileInfo::exists(bufferRoot()));
            auto recording = std::make_shared<RecorderRecording>(30, 30, 1920, rig.platform);
            std::optional<Status> started;
            recording->start([&](const Status& status) { started = status; });
            QVERIFY(QTest::qWaitFor([&] { return started.has_value(); }));
            QVERIFY2(started->ok(), qPrintable(started->ok() ? QString() : started->error().message));
            bool stopped = false;
            recording->stop([&, recording] {
                stopped = true;
                recording->discard();
            });
            QVERIFY(QTest::qWaitFor([&] { return stopped; }));
            if (i % 2) QCoreApplication::processEvents(); // the discard reports back before the handle goes
        }
        QTRY_COMPARE(threads(), before);
        QVERIFY(!QFileInfo::exists(bufferRoot()));
    }
};

FERROVANE_TEST_MAIN(TestRecorderRecording)
#include "tst_recorderrecording.moc"
