#include "app/SignalWatcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fds[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] ssize_t written = ::write(g_fds[0], &byte, 1);
    errno = saved;
}
} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent)
    : QObject(parent) {
    if (g_fds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) return;
    fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
    fcntl(g_fds[1], F_SETFL, O_NONBLOCK);
    m_notifier = std::make_unique<QSocketNotifier>(g_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::readSignals);
    // The watched signals block one another while a handler runs, so handlers never interleave.
    sigset_t watched;
    sigemptyset(&watched);
    for (int number : signalNumbers)
        sigaddset(&watched, number);
    for (int number : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        action.sa_mask = watched;
        action.sa_flags = SA_RESTART;
        sigaction(number, &action, nullptr);
    }
}

SignalWatcher::~SignalWatcher() = default;

// Signals sent close together are all pending by the time this thread wakes, and the kernel hands them
// over in an order of its own (by number, or to another thread first). They are read as one batch, so a
// receiver can let the batch's saves run before its quit.
void SignalWatcher::readSignals() {
    unsigned char bytes[64];
    const ssize_t n = ::read(g_fds[1], bytes, sizeof bytes);
    if (n <= 0) return;
    QList<int> batch;
    for (ssize_t i = 0; i < n; ++i)
        batch << bytes[i];
    emit received(batch);
}
