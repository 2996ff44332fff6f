#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

namespace {
TestEnvironment* g_instance = nullptr;
}

TestEnvironment::TestEnvironment()
    : m_dir(QDir::tempPath() + QStringLiteral("/ferrovane-test-XXXXXX")) {
    QDir().mkpath(home());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
    g_instance = this;
}

TestEnvironment* TestEnvironment::instance() {
    return g_instance;
}
