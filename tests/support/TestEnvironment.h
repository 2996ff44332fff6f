#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

// Points HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR at a private temporary folder for the whole test
// process, so no test reads or writes the user's real files.
class TestEnvironment {
public:
    TestEnvironment();

private:
    QTemporaryDir m_dir;
};

// Writes a whole file, making its folders; a failure fails the test.
void writeFile(const QString& path, const QByteArray& text);
// What a file holds; empty when it cannot be read.
QByteArray readFile(const QString& path);

// Runs a Qt Test class inside a TestEnvironment, with a QApplication on the offscreen platform unless the
// test environment chose another.
#define FERROVANE_TEST_MAIN(TestClass)                                                                       \
    int main(int argc, char** argv) {                                                                        \
        TestEnvironment environment;                                                                         \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");         \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
