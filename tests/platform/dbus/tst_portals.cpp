#include "platform/linux/portal/PortalAppearance.h"
#include "platform/linux/portal/PortalGlobalShortcut.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace {

const QString desktop = QStringLiteral("/org/freedesktop/portal/desktop");

// The desktop portal as xdg-desktop-portal answers. Settings: Read gives the value in a variant in a
// variant. GlobalShortcuts: a request handle at once, the Response on it a moment later, Activated on the
// portal object.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection& bus)
        : m_bus(bus) {}
    QStringList calls;
    QString trigger, session;
    uint bindResponse = 0;
    uint scheme = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        calls << message.member();
        if (message.member() == "Get" || message.member() == "Read") {
            // The interface's version, or the setting read; anything but the colour scheme is unset.
            const bool colorScheme =
                message.arguments() == QVariantList{"org.freedesktop.appearance", "color-scheme"};
            const QVariant value = message.member() == "Get"
                                       ? QVariant(1u)
                                       : QVariant::fromValue(QDBusVariant(colorScheme ? scheme : 0u));
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().last());
        const QString sender = message.service().mid(1).replace('.', '_');
        const QString request = "/org/freedesktop/portal/desktop/request/" + sender + "/" +
                                options.value("handle_token").toString();
        m_bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        uint code = 0;
        if (message.member() == "CreateSession") {
            session = "/org/freedesktop/portal/desktop/session/" + sender + "/" +
                      options.value("session_handle_token").toString();
            results.insert("session_handle", session);
        } else {
            const QDBusArgument list = message.arguments().at(1).value<QDBusArgument>();
            list.beginArray();
            QString id;
            QVariantMap properties;
            list.beginStructure();
            list >> id >> properties;
            list.endStructure();
            trigger = id + " " + properties.value("description").toString() + " " +
                      properties.value("preferred_trigger").toString();
            code = bindResponse;
        }
        QDBusMessage response =
            QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        response << code << results;
        m_bus.send(response);
        return true;
    }
    void activate(const QString& id) {
        QDBusMessage signal =
            QDBusMessage::createSignal(desktop, "org.freedesktop.portal.GlobalShortcuts", "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap();
        m_bus.send(signal);
    }

private:
    QDBusConnection& m_bus;
};

} // namespace

// The portals play on a dbus-daemon of the test's own, so the user's desktop is never asked.
class PortalsTest : public QObject {
    Q_OBJECT
    Child m_daemon;
    QString m_address;
    QDBusConnection m_bus{QString()};
    std::optional<FakePortal> m_portal;

    void servePortal() {
        QVERIFY(m_bus.registerVirtualObject(desktop, &*m_portal));
        QVERIFY(m_bus.registerService("org.freedesktop.portal.Desktop"));
    }

private slots:
    void initTestCase() {
        m_address = startBus(m_daemon);
        m_bus = QDBusConnection::connectToBus(m_address, "portal");
        QVERIFY2(m_bus.isConnected(), "no dbus-daemon (scripts/install-deps)");
    }
    void init() { m_portal.emplace(m_bus); }
    void cleanup() {
        m_bus.unregisterService("org.freedesktop.portal.Desktop");
        m_bus.unregisterObject(desktop);
        m_portal.reset();
    }

    void followsTheColorScheme_data() {
        QTest::addColumn<uint>("atStart");
        QTest::addColumn<QString>("key"); // of a SettingChanged to 1 in org.freedesktop.appearance
        QTest::addColumn<QList<bool>>("seen");
        QTest::newRow("dark") << 1u << QString() << QList<bool>{true};
        QTest::newRow("light, then dark") << 2u << "color-scheme" << QList<bool>{true};
        QTest::newRow("another setting") << 0u << "accent-color" << QList<bool>{};
    }
    void followsTheColorScheme() {
        QFETCH(uint, atStart);
        QFETCH(QString, key);
        QFETCH(QList<bool>, seen);
        m_portal->scheme = atStart;
        servePortal();
        PortalAppearance appearance(m_bus); // the bus routes our own signals back to us, as any other's
        QList<bool> changes;
        connect(&appearance, &Appearance::changed, [&] { changes << appearance.prefersDark(); });
        QTest::qWait(200); // the first answer
        if (!key.isEmpty()) {
            auto signal =
                QDBusMessage::createSignal(desktop, "org.freedesktop.portal.Settings", "SettingChanged");
            m_bus.send(signal << "org.freedesktop.appearance" << key
                              << QVariant::fromValue(QDBusVariant(1u)));
            QTest::qWait(200);
        }
        QCOMPARE(changes, seen);
    }

    void triggers_data() {
        QTest::addColumn<QKeyCombination>("combination");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("ours") << QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_R)
                              << "CTRL+ALT+r";
        QTest::newRow("with shift and logo")
            << QKeyCombination(Qt::ShiftModifier | Qt::MetaModifier, Qt::Key_F5) << "SHIFT+LOGO+F5";
    }
    void triggers() {
        QFETCH(QKeyCombination, combination);
        QFETCH(QString, trigger);
        QCOMPARE(PortalGlobalShortcut::trigger(combination), trigger);
    }

    // Bound in the background; only our own shortcut in our own session saves.
    void bindsAndFires_data() {
        QTest::addColumn<bool>("portal");
        QTest::addColumn<uint>("bindResponse");
        QTest::addColumn<int>("presses");
        QTest::newRow("bound") << true << 0u << 1;
        QTest::newRow("user declined") << true << 1u << 0;
        QTest::newRow("no portal") << false << 0u << 0;
    }
    void bindsAndFires() {
        QFETCH(bool, portal);
        QFETCH(uint, bindResponse);
        QFETCH(int, presses);
        m_portal->bindResponse = bindResponse;
        if (portal) servePortal();
        int pressed = 0;
        {
            PortalGlobalShortcut shortcut(QDBusConnection::connectToBus(m_address, "app"));
            const Status registered = shortcut.registerShortcut(
                QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_R), [&] { ++pressed; });
            QCOMPARE(bool(registered), portal);
            if (portal) {
                QTRY_COMPARE(m_portal->calls, (QStringList{"Get", "CreateSession", "BindShortcuts"}));
                QCOMPARE(m_portal->trigger, "save-replay Save replay CTRL+ALT+r");
                QTest::qWait(200);
                m_portal->activate("something-else");
                m_portal->activate("save-replay");
                QTest::qWait(200);
            }
            QCOMPARE(pressed, presses);
        }
        QDBusConnection::disconnectFromBus("app");
    }
};

FERROVANE_TEST_MAIN(PortalsTest)
#include "tst_portals.moc"
