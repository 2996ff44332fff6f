#include "app/SignalWatcher.h"

#include "base/Logging.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t setOf(const QList<int>& signalNumbers) {
    sigset_t set;
    sigemptyset(&set);
    for (int number : signalNumbers)
        sigaddset(&set, number);
    return set;
}
} // namespace

void SignalWatcher::blockInEveryThread(const QList<int>& signalNumbers) {
    const sigset_t set = setOf(signalNumbers);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(const QList<int>& signalNumbers, QObject* parent)
    : QObject(parent) {
    blockInEveryThread(signalNumbers); // this thread's, at least, should the caller have forgotten
    const sigset_t set = setOf(signalNumbers);
    m_fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        // Unread, blocked signals would leave the process deaf to SIGTERM; their default action at least
        // ends it.
        qCWarning(lcApp).noquote() << "Signals cannot be watched:" << qt_error_string(errno);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::readSignals);
}

SignalWatcher::~SignalWatcher() {
    m_notifier.reset();
    if (m_fd >= 0) ::close(m_fd);
}

// Everything pending at once: signals sent close together come as one batch, so a receiver can let the
// batch's saves run before its quit.
void SignalWatcher::readSignals() {
    QList<int> batch;
    signalfd_siginfo info[16];
    for (;;) {
        const ssize_t n = ::read(m_fd, info, sizeof info);
        if (n <= 0) break;
        for (size_t i = 0; i < size_t(n) / sizeof(signalfd_siginfo); ++i)
            batch << int(info[i].ssi_signo);
    }
    if (!batch.isEmpty()) emit received(batch);
}
