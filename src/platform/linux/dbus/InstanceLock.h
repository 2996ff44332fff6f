#pragma once

#include <QString>

#include <sys/types.h>

// The per-user lock of the one running instance: a file in the user's runtime folder, locked (flock) for
// as long as this object holds it and naming the holder's process. It outlasts a session bus that
// restarts, which the bus name alone does not; a process killed outright releases it.
class InstanceLock {
public:
    // $XDG_RUNTIME_DIR/io.github.ferrovane.Ferrovane.lock, or a per-user name in the temporary folder.
    static QString standardPath();

    explicit InstanceLock(QString path = standardPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True once held; false while another process (or another lock in this one) holds it.
    bool acquire();
    // The holder's process id as it wrote it; 0 when unknown.
    pid_t holder() const;

private:
    const QString m_path;
    int m_fd = -1;
};
