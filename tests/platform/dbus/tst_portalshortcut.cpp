#include "platform/linux/portal/PortalGlobalShortcut.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace {

const QString desktop = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// The GlobalShortcuts portal as xdg-desktop-portal answers: a request handle at once, the Response on
// it a moment later, Activated on the portal object.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection& bus)
        : m_bus(bus) {}
    QStringList calls;
    QString trigger;
    uint bindResponse = 0;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        calls << message.member();
        if (message.member() == "Get") {
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(1u))));
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
        QDBusMessage signal = QDBusMessage::createSignal(desktop, shortcuts, "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0) << QVariantMap();
        m_bus.send(signal);
    }
    QString session;

private:
    QDBusConnection& m_bus;
};

} // namespace

// The portal plays on a dbus-daemon of the test's own.
class PortalShortcutTest : public QObject {
    Q_OBJECT
    Child m_daemon;
    QDBusConnection m_bus{QString()};
    QString m_address;

private slots:
    void initTestCase() {
        m_address = startBus(m_daemon);
        m_bus = QDBusConnection::connectToBus(m_address, "portal");
        QVERIFY2(m_bus.isConnected(), "no dbus-daemon (scripts/install-deps)");
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
        FakePortal fake(m_bus);
        fake.bindResponse = bindResponse;
        if (portal) {
            QVERIFY(m_bus.registerVirtualObject(desktop, &fake));
            QVERIFY(m_bus.registerService("org.freedesktop.portal.Desktop"));
        }
        int pressed = 0;
        {
            PortalGlobalShortcut shortcut(QDBusConnection::connectToBus(m_address, "app"));
            const Status registered = shortcut.registerShortcut(
                QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_R), [&] { ++pressed; });
            QCOMPARE(bool(registered), portal);
            if (portal) {
                QTRY_COMPARE(fake.calls, (QStringList{"Get", "CreateSession", "BindShortcuts"}));
                QCOMPARE(fake.trigger, "save-replay Save replay CTRL+ALT+r");
                QTest::qWait(200);
                fake.activate("something-else");
                fake.activate("save-replay");
                QTest::qWait(200);
            }
            QCOMPARE(pressed, presses);
        }
        QDBusConnection::disconnectFromBus("app");
        m_bus.unregisterService("org.freedesktop.portal.Desktop");
        m_bus.unregisterObject(desktop);
    }
};

FERROVANE_TEST_MAIN(PortalShortcutTest)
#include "tst_portalshortcut.moc"
