#include "platform/linux/portal/PortalAppearance.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDBusMessage>

namespace {

const QString path = QStringLiteral("/org/freedesktop/portal/desktop");

// The settings portal's Read, answering as xdg-desktop-portal does: the value in a variant in a variant.
class FakePortal final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 0;

public slots:
    QDBusVariant Read(const QString& group, const QString& key) {
        const bool asked = group == "org.freedesktop.appearance" && key == "color-scheme";
        return QDBusVariant(QVariant::fromValue(QDBusVariant(asked ? QVariant(scheme) : QVariant())));
    }
};

} // namespace

// The portal plays on a dbus-daemon of the test's own, so the user's desktop is never asked.
class PortalAppearanceTest : public QObject {
    Q_OBJECT
    Child m_daemon;
    QDBusConnection m_bus{QString()};
    FakePortal m_portal;

private slots:
    void initTestCase() {
        m_bus = QDBusConnection::connectToBus(startBus(m_daemon), "test");
        QVERIFY2(m_bus.registerObject(path, &m_portal, QDBusConnection::ExportAllSlots) &&
                     m_bus.registerService("org.freedesktop.portal.Desktop"),
                 "no dbus-daemon (scripts/install-deps)");
    }

    void followsThePortal_data() {
        QTest::addColumn<uint>("atStart");
        QTest::addColumn<QString>("key"); // of a SettingChanged to 1 in org.freedesktop.appearance
        QTest::addColumn<QList<bool>>("seen");
        QTest::newRow("dark") << 1u << QString() << QList<bool>{true};
        QTest::newRow("light, then dark") << 2u << "color-scheme" << QList<bool>{true};
        QTest::newRow("another setting") << 0u << "accent-color" << QList<bool>{};
    }
    void followsThePortal() {
        QFETCH(uint, atStart);
        QFETCH(QString, key);
        QFETCH(QList<bool>, seen);
        m_portal.scheme = atStart;
        PortalAppearance appearance(m_bus); // the bus routes our own signals back to us, as any other's
        QList<bool> changes;
        connect(&appearance, &Appearance::changed, [&] { changes << appearance.prefersDark(); });
        QTest::qWait(200); // the first answer
        if (!key.isEmpty()) {
            auto signal =
                QDBusMessage::createSignal(path, "org.freedesktop.portal.Settings", "SettingChanged");
            m_bus.send(signal << "org.freedesktop.appearance" << key
                              << QVariant::fromValue(QDBusVariant(1u)));
            QTest::qWait(200);
        }
        QCOMPARE(changes, seen);
    }
};

FERROVANE_TEST_MAIN(PortalAppearanceTest)
#include "tst_portalappearance.moc"
