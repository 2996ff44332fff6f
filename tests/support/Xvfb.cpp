#include "support/Xvfb.h"

#include <QProcessEnvironment>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

Xvfb::~Xvfb() {
    stop();
}

bool Xvfb::start(QSize size, int depth, Reset reset) {
    const QString screen = QStringLiteral("%1x%2x%3").arg(size.width()).arg(size.height()).arg(depth);
    QStringList arguments{"-displayfd", "1",   "-screen",    "0",    screen,
                          "-nolisten",  "tcp", "+extension", "RANDR"};
    if (reset == Reset::Never) arguments << "-noreset";
    return launch("Xvfb", arguments);
}

bool Xvfb::startResizable(QSize size) {
    return launch("Xvnc", {"-displayfd", "1", "-geometry",
                           QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), "-depth", "24",
                           "-SecurityTypes", "None", "-rfbport", "-1", "-nolisten", "tcp", "-noreset"});
}

// With -displayfd the server prints its display number once it listens.
bool Xvfb::launch(const QString& program, const QStringList& arguments) {
    m_process.start(program, arguments);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    if (!m_process.canReadLine()) {
        stop();
        return false;
    }
    m_display = ":" + QString::fromLatin1(m_process.readLine().trimmed());
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

QProcess* Xvfb::startClock() {
    QProcess* clock = startClient("xterm", {"-fn", "fixed", "-geometry", "100x30+0+0", "-e", "sh", "-c",
                                            "while :; do date +%T.%N; sleep 0.05; done"});
    return clock->state() == QProcess::Running ? clock : nullptr;
}

void Xvfb::stop() {
    if (m_heldSocket >= 0) ::close(std::exchange(m_heldSocket, -1));
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
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.kill();
    m_process.waitForFinished(3000);
    // Servers started by tests running beside this one take the lowest number whose socket they can
    // bind; holding the abstract socket keeps them off this one, so that what was connected here finds
    // no server rather than another one.
    const QByteArray name = "/tmp/.X11-unix/X" + m_display.mid(1).toLatin1();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    m_heldSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_heldSocket >= 0 &&
        ::bind(m_heldSocket, reinterpret_cast<sockaddr*>(&address),
               socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()))) != 0)
        qWarning("could not hold display %s: %s", m_display.toLatin1().constData(), strerror(errno));
}
