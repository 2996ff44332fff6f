#include "app/ColorScheme.h"
#include "platform/Appearance.h"
#include "platform/LoginItem.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/desktop/QSettingsStore.h"
#include "settings/SettingsWindow.h"
#include "support/Fakes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>

class SettingsWindowTest : public QObject {
    Q_OBJECT
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString entry = config + "/autostart/io.github.ferrovane.Ferrovane.desktop";
    const QString store = QSettingsStore::defaultPath();
    std::optional<InstalledSettings<QSettingsStore>> m_prefs;
    std::unique_ptr<SettingsWindow> m_settings;
    int m_foldersOpened = 0;

    // The store over what the test left in the config folder, and the window (made unless the test did)
    // shown on it.
    void open() {
        m_prefs.emplace();
        if (!m_settings) m_settings = std::make_unique<SettingsWindow>(createLoginItem());
        m_settings->show([this] { ++m_foldersOpened; });
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }
    QWidget* window() const { return m_settings->window(); }
    template <typename T> T* find(const QString& name) const { return window()->findChild<T*>(name); }

    // The form as the user reads it, top to bottom: "on"/"off" before toggles, a pop-up as its choice in
    // brackets and its options.
    QStringList form() const {
        QStringList list;
        for (QWidget* w : window()->findChildren<QWidget*>()) {
            if (auto* label = qobject_cast<QLabel*>(w); label && label->isVisible()) list << label->text();
            if (auto* box = qobject_cast<QCheckBox*>(w))
                list << (box->isChecked() ? "on " : "off ") + box->text();
            if (auto* button = qobject_cast<QPushButton*>(w)) list << button->text();
            if (auto* box = qobject_cast<QComboBox*>(w)) {
                list << "[" + box->currentText() + "]";
                for (int i = 0; i < box->count(); ++i)
                    list.last() += " " + box->itemText(i) + ";";
            }
        }
        return list;
    }

private slots:
    void cleanup() {
        m_settings.reset();
        m_prefs.reset();
        QDir(config).removeRecursively();
    }

    // Where the desktop did not bind Ctrl+Alt+R, said before the window is first shown or after, the
    // Shortcut row says how to save instead.
    void freshInstallation_data() {
        QTest::addColumn<int>("unbound"); // 0: bound; 1: said before the first show; 2: after
        QTest::newRow("bound") << 0;
        QTest::newRow("not bound, said before the show") << 1;
        QTest::newRow("not bound, said after") << 2;
    }
    void freshInstallation() {
        QFETCH(int, unbound);
        m_settings = std::make_unique<SettingsWindow>(createLoginItem());
        if (unbound == 1) m_settings->setShortcutBound(false);
        open();
        if (unbound == 2) m_settings->setShortcutBound(false);
        const QString shortcut = unbound
                                     ? "Not bound on this desktop. Bind ferrovane --save to a key in your "
                                       "desktop's keyboard settings."
                                     : "Ctrl+Alt+R saves from anywhere";
        QCOMPARE(
            form().join(" | "),
            "Replay buffer | Keep the last | [30 seconds] 15 seconds; 30 seconds; 60 seconds; 2 minutes; | "
            "Smoothness | [30 fps · smooth] 15 fps · lighter on battery; 30 fps · smooth; | Resolution | "
            "[1920 px · recommended] 1280 px · smallest files; 1920 px · recommended; 2560 px · sharpest; | "
            "Behaviour | on Pause and clear the buffer when the screen locks | on Play a sound when a replay "
            "is saved | off Open Ferrovane at login | Clips | Saved to | ~/Videos/Ferrovane | Shortcut | " +
                shortcut +
                " | Open Replays Folder | Everything stays on this computer. Ferrovane never uploads your "
                "screen, and the rolling buffer is deleted when you pause or quit.");
        QCOMPARE(window()->minimumSize(), window()->maximumSize()); // what the window manager reads as fixed
        QVERIFY(!(window()->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!QFileInfo::exists(store)); // looking writes nothing
    }

    // The pop-ups show what the file holds, unclamped, and a change writes that one key at once.
    void storeBinding_data() {
        QTest::addColumn<QByteArray>("before"); // the settings file's lines
        QTest::addColumn<QString>("shown");     // the three pop-ups' choices
        QTest::addColumn<QString>("key");       // the control then changed; none: left alone
        QTest::addColumn<QString>("typed");     // picks the option it begins; null: a toggle's space bar
        QTest::addColumn<QByteArray>("after");  // null: as before
        const QString defaults = "30 seconds|30 fps · smooth|1920 px · recommended";
        QTest::newRow("2 minutes") << QByteArray() << defaults << Settings::Keys::buffer << "2"
                                   << QByteArray("bufferSeconds=120");
        QTest::newRow("no sound") << QByteArray() << defaults << Settings::Keys::sound << QString()
                                  << QByteArray("playSound=false");
        QTest::newRow("45 s, text") << QByteArray("bufferSeconds=45\nfps=fast") << "||1920 px · recommended"
                                    << QString() << QString() << QByteArray();
        QTest::newRow("5000 px, then 15 fps")
            << QByteArray("maxWidth=5000") << "30 seconds|30 fps · smooth|" << Settings::Keys::fps
            << "15 fps · lighter" << QByteArray("fps=15\nmaxWidth=5000");
        QTest::newRow("matches written otherwise")
            << QByteArray("bufferSeconds=120.0\nmaxWidth=1.28e3")
            << "2 minutes|30 fps · smooth|1280 px · smallest files" << QString() << QString() << QByteArray();
    }
    void storeBinding() {
        QFETCH(QByteArray, before);
        QFETCH(QString, shown);
        QFETCH(QString, key);
        QFETCH(QString, typed);
        QFETCH(QByteArray, after);
        if (!before.isNull()) writeFile(store, "[General]\n" + before + "\n");
        open();
        QSignalSpy changed(&m_prefs->store, &PreferencesStore::changed);
        const QStringList keys{Settings::Keys::buffer, Settings::Keys::fps, Settings::Keys::maxWidth};
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(find<QComboBox>(keys[i])->currentText(), shown.split('|')[i]);
        if (!typed.isNull())
            QTest::keyClicks(find<QComboBox>(key), typed);
        else if (!key.isEmpty())
            QTest::keyClick(find<QCheckBox>(key), Qt::Key_Space);
        QTest::qWait(100);
        QCOMPARE(changed.count(), int(!key.isEmpty()));
        QCOMPARE(readFile(store), "[General]\n" + (after.isNull() ? before : after) + "\n");
    }

    void loginToggle_data() {
        QTest::addColumn<QByteArray>("text"); // the entry found; null: none
        QTest::addColumn<bool>("blocked");    // a folder holds the entry's name, which stops root as well
        const QByteArray mine = "[Desktop Entry]\nType=Application\nName=Mine\nExec=/home/me/ferrovane\n";
        QTest::newRow("none") << QByteArray() << false;
        QTest::newRow("hand-written") << mine << false;
        QTest::newRow("entry cannot be written") << QByteArray() << true;
    }
    void loginToggle() {
        QFETCH(QByteArray, text);
        QFETCH(bool, blocked);
        if (!text.isNull()) writeFile(entry, text);
        if (blocked) QDir().mkpath(entry);
        open();
        auto* toggle = find<QCheckBox>("launchAtLogin");
        auto* error = find<QLabel>("loginError");
        const bool wasOn = !text.isNull();
        QCOMPARE(toggle->isChecked(), wasOn);
        const int height = window()->height();
        if (blocked) {
            QTest::keyClick(toggle, Qt::Key_Space);
            QCOMPARE(toggle->isChecked(), wasOn); // back to the truth
            QCOMPARE(error->text(),
                     "Couldn't change this. Check that ~/.config/autostart can be written, then try again.");
            QTRY_VERIFY(window()->height() > height); // room for the message, nothing cut
            // The message stays with the window, closed and shown again, until a change succeeds.
            window()->close();
            m_settings->show({});
            QVERIFY(error->isVisible());
            QDir(entry).removeRecursively();
        }
        QTest::keyClick(toggle, Qt::Key_Space);
        QCOMPARE(toggle->isChecked(), !wasOn);
        QVERIFY(!error->isVisible());
        QCOMPARE(createLoginItem()->enabled(), !wasOn);
        QCOMPARE(
            readFile(entry).contains("\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"),
            !wasOn);
    }

    void oneWindowKeptWhereTheUserLeftIt() {
        open();
        QWidget* first = window();
        const QPoint offCentre = first->geometry().center() - first->screen()->availableGeometry().center();
        QCOMPARE_LE(offCentre.manhattanLength(), 2);
        first->move(137, 91);
        QTRY_COMPARE(first->pos(), QPoint(137, 91));
        first->close();
        QWidget other; // has the focus when the settings are asked for again
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        m_settings->show([] { QFAIL("the first show's action is kept"); });
        QCOMPARE(window(), first);
        QVERIFY(QTest::qWaitForWindowActive(first));
        QCOMPARE(first->pos(), QPoint(137, 91));
        QTest::mouseClick(first->findChild<QPushButton*>(), Qt::LeftButton);
        QCOMPARE(m_foldersOpened, 1);
    }

    // Whatever palette the application has, the window is drawn from it: no light patch in a dark theme.
    void followsThePalette() {
        open();
        for (const bool dark : {true, false}) {
            applyColorScheme(dark);
            // The application hands its palette on to its windows through posted events.
            QTRY_COMPARE(window()->palette().color(QPalette::Window),
                         QApplication::palette().color(QPalette::Window));
            const QImage shot = window()->grab().toImage();
            const int mean =
                qGray(shot.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
            QVERIFY2(dark ? mean < 80 : mean > 200, qPrintable(QString::number(mean)));
        }
    }
};

FERROVANE_X11_TEST_MAIN(SettingsWindowTest, QSize(1280, 800), prepareWindowSystem())

#include "tst_settingswindow.moc"
