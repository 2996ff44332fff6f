#pragma once

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QSize>
#include <QString>

// A private X server for one test: Xvfb picks a free display number itself (-displayfd), so tests can run
// side by side. Stopped with the object.
class Xvfb {
public:
    ~Xvfb();

    // Whether the server starts afresh each time its last client leaves, as X servers do by default.
    enum class Reset { Never, WhenLastClientLeaves };
    // Starts the server and sets DISPLAY for this process. False when it does not come up.
    bool start(QSize size = QSize(1920, 1200), int depth = 24, Reset reset = Reset::Never);
    // The same with Xvnc, whose screen, unlike Xvfb's, changes size with `xrandr --output VNC-0 --mode`.
    bool startResizable(QSize size);
    void stop();
    // Ends the server abruptly, as a crash would; its display number stays taken until stop().
    void kill();
    QString display() const { return m_display; }

    // Runs a client on this display (xdotool, xterm …); it is killed with the server.
    QProcess* startClient(const QString& program, const QStringList& arguments);
    // A terminal printing the time every 50 ms, so the screen never rests; null when xterm did not start.
    QProcess* startClock();

private:
    bool launch(const QString& program, const QStringList& arguments);

    QProcess m_process;
    QString m_display;
    int m_heldSocket = -1;
    std::vector<std::unique_ptr<QProcess>> m_clients;
};

// FERROVANE_TEST_MAIN on a private X server of `size`, started before the application connects; the
// statements after it run just before the QApplication is made.
#define FERROVANE_X11_TEST_MAIN(TestClass, size, ...)                                                        \
    int main(int argc, char** argv) {                                                                        \
        TestEnvironment environment;                                                                         \
        Xvfb xvfb;                                                                                           \
        if (!xvfb.start(size)) qFatal("Xvfb did not start");                                                 \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                                   \
        __VA_ARGS__;                                                                                         \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
