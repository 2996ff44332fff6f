#include "support/Processes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

Child::~Child() {
    if (state() == QProcess::NotRunning) return;
    terminate();
    if (!waitForFinished(10000)) kill();
    waitForFinished(3000);
}

QString startBus(Child& daemon) {
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
    }
    return QString::fromLatin1(daemon.readLine().trimmed());
}

QString ferrovaneBinary() {
    return qEnvironmentVariable("FERROVANE_BIN_DIR") + "/src/ferrovane";
}

QString bufferRoot() {
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + "/FerrovaneBuffer";
}

void launchOnPortal(Child& app, const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("FERROVANE_PLATFORM", "portal");
    app.setProcessEnvironment(environment);
    app.start(ferrovaneBinary(), arguments);
    app.waitForStarted();
}

QString saveNow(Child& app, int ms) {
    ::kill(pid_t(app.processId()), SIGUSR1);
    if (!QTest::qWaitFor([&] { return app.canReadLine(); }, ms)) return QString();
    return QString::fromLocal8Bit(app.readLine()).trimmed();
}

bool recordingStarted() {
    const QDir buffers(bufferRoot());
    for (const QString& folder : buffers.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (!QDir(buffers.filePath(folder)).entryList({"seg-*"}, QDir::Files).isEmpty()) return true;
    return false;
}

Outcome runFerrovane(const QStringList& arguments, int ms) {
    Child process;
    process.start(ferrovaneBinary(), arguments);
    const bool ended = process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit;
    return Outcome{ended ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAllStandardOutput()),
                   QString::fromLocal8Bit(process.readAllStandardError())};
}

QString status() {
    return runFerrovane({QStringLiteral("--status")}).out;
}

bool reaches(const QString& pattern, int ms) {
    const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
    QDeadlineTimer deadline(ms);
    while (!line.match(status()).hasMatch()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(100);
    }
    return true;
}
