#include "app/StatusMenu.h"

#include <QTest>

using StatusMenu::Entry;

namespace {

// One line per entry: "-" for a separator, "[title]" for a label, shortcuts in parentheses.
QStringList lines(const std::vector<Entry>& menu) {
    QStringList out;
    for (const Entry& e : menu) {
        if (e.kind == Entry::Kind::Separator)
            out << QStringLiteral("-");
        else if (e.kind == Entry::Kind::Label)
            out << "[" + e.title + "]";
        else
            out << e.title + (e.shortcut.isEmpty() ? QString() : " (" + e.shortcut.toString() + ")");
    }
    return out;
}

const QStringList tail{"Open Replays Folder", "-", "Settings… (Ctrl+,)", "Quit Ferrovane (Ctrl+Q)"};

} // namespace

class TestStatusMenu : public QObject {
    Q_OBJECT
private slots:
    void entries_data() {
        QTest::addColumn<double>("buffer");
        QTest::addColumn<double>("saveLength");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QStringList>("clips");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("hotKey");
        const QStringList empty = QStringList{"-", "[No replays yet]"} + tail;
        QTest::newRow("save length below the buffer")
            << 300.0 << 60.0 << false << QStringList()
            << QStringList{"Save Last 60 Seconds   Ctrl+Alt+R", "Pause and Clear Buffer"} + empty << true;
        QTest::newRow("buffer below the save length")
            << 20.0 << 30.0 << false << QStringList()
            << QStringList{"Save Last 20 Seconds   Ctrl+Alt+R", "Pause and Clear Buffer"} + empty << true;
        QTest::newRow("fraction dropped, paused")
            << 12.9 << 30.0 << true << QStringList()
            << QStringList{"Save Last 12 Seconds   Ctrl+Alt+R", "Resume Replay"} + empty << true;
        // A key the desktop has not bound is not named.
        QTest::newRow("no hot key on this desktop")
            << 30.0 << 30.0 << false << QStringList()
            << QStringList{"Save Last 30 Seconds", "Pause and Clear Buffer"} + empty << false;
        QTest::newRow("clips by name, in the order given")
            << 30.0 << 30.0 << false << QStringList{"/c/replay-b.mp4", "/c/replay-a.MP4", "/c/replay.x.mp4"}
            << QStringList{"Save Last 30 Seconds   Ctrl+Alt+R",
                           "Pause and Clear Buffer",
                           "-",
                           "[Recent Replays]",
                           "replay-b",
                           "replay-a",
                           "replay.x"} +
                   tail
            << true;
    }
    void entries() {
        QFETCH(double, buffer);
        QFETCH(double, saveLength);
        QFETCH(bool, paused);
        QFETCH(QStringList, clips);
        QFETCH(QStringList, expected);
        QFETCH(bool, hotKey);
        const std::vector<Entry> menu = StatusMenu::entries({buffer, saveLength, paused, clips, hotKey});
        QCOMPARE(lines(menu), expected);
        // Each clip item carries its own file.
        for (int i = 0; i < clips.size(); ++i)
            QCOMPARE(menu[4 + i].clip, clips[i]);
    }
};

QTEST_GUILESS_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
