#include "support/Xvfb.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

Xvfb::~Xvfb() {
    stop();
}

bool Xvfb::start(QSize size, int depth, Reset reset) {
    const QString arguments =
        QStringLiteral("-displayfd 1 -screen 0 %1x%2x%3 -nolisten tcp +extension RANDR");
    QStringList split = arguments.arg(size.width()).arg(size.height()).arg(depth).split(QLatin1Char(' '));
    if (reset == Reset::Never) split << QStringLiteral("-noreset");
    return launch(QStringLiteral("Xvfb"), split);
}

bool Xvfb::startResizable(QSize size) {
    return launch(QStringLiteral("Xvnc"),
                  {"-displayfd", "1", "-geometry",
                   QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), "-depth", "24",
                   "-SecurityTypes", "None", "-rfbport", "-1", "-nolisten", "tcp", "-noreset"});
}

bool Xvfb::launch(const QString& program, const QStringList& arguments) {
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(5000)) return false;
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime()))) break;
        out += m_process.readAllStandardOutput();
    }
    if (!out.contains('\n')) {
        stop();
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(out.trimmed());
    qputenv("DISPLAY", m_display.toLatin1());
    return true;
}

QProcess* Xvfb::startClient(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    process->waitForStarted(5000);
    m_clients.push_back(std::move(process));
    return m_clients.back().get();
}

void Xvfb::stop() {
    for (auto& client : m_clients) {
        client->kill();
        client->waitForFinished(3000);
    }
    m_clients.clear();
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) kill();
}

void Xvfb::kill() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
