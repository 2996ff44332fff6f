#include "support/Xvfb.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

Xvfb::~Xvfb() {
    stop();
}

bool Xvfb::start(QSize size, int depth) {
    const QString screen = QStringLiteral("%1x%2x%3").arg(size.width()).arg(size.height()).arg(depth);
    m_process.setProgram(QStringLiteral("Xvfb"));
    m_process.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                            QStringLiteral("0"), screen, QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                            QStringLiteral("-noreset"), QStringLiteral("+extension"),
                            QStringLiteral("RANDR")});
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
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
        if (client->state() != QProcess::NotRunning) {
            client->kill();
            client->waitForFinished(3000);
        }
    }
    m_clients.clear();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

void Xvfb::kill() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}
