// Desktop notifications on a private session bus, with a notification service
// of this process that comes and goes.

#include "window/DesktopNotifications.h"

#include "support/EventLoopWait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using velantro::testing::RunEventsFor;
using velantro::testing::TestApplication;
using velantro::testing::WaitUntil;
using velantro::window::DesktopNotifications;

namespace {

const QString ServiceName = QStringLiteral("org.freedesktop.Notifications");

/// Answers Notify with a new number, or with an error while Failing; keeps
/// the bodies it was given.
class FakeService final : public QDBusVirtualObject {
public:
    std::vector<QString> Bodies;
    std::vector<quint32> Replaced; // the bubble each Notify replaces, 0 for none
    QStringList Actions;           // of the latest Notify
    bool Failing = false;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Notify")) {
            connection.send(message.createReply());
            return true;
        }
        Bodies.push_back(message.arguments().value(4).toString());
        Actions = message.arguments().value(5).toStringList();
        Replaced.push_back(message.arguments().value(1).toUInt());
        connection.send(
            Failing
                ? message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                           QStringLiteral("busy"))
                : message.createReply(QVariant::fromValue(static_cast<quint32>(Bodies.size()))));
        return true;
    }
};

class DesktopNotificationsTest : public ::testing::Test {
protected:
    QCoreApplication& App = TestApplication();
    QDBusConnection Client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "client");
    QDBusConnection Server = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "server");
    FakeService Service;

    void SetUp() override {
        ASSERT_TRUE(Client.isConnected());
        ASSERT_TRUE(Server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"),
                                                 &Service));
    }
    void TearDown() override {
        Server.unregisterService(ServiceName);
        Server.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

    void Appear() { ASSERT_TRUE(Server.registerService(ServiceName)); }
    void Vanish() { ASSERT_TRUE(Server.unregisterService(ServiceName)); }
    bool Received(const char* body) {
        return WaitUntil([&] {
            return !Service.Bodies.empty() && Service.Bodies.back() == QLatin1String(body);
        });
    }

    /// Notifies until the service shows the message: a service that appeared
    /// reaches the program as a signal, some time after.
    bool ShownOnceItIsThere(DesktopNotifications& notifications, const char* handle,
                            const char* body) {
        return WaitUntil([&] {
            notifications.Notify(handle, handle, body);
            RunEventsFor(20ms);
            return !Service.Bodies.empty() && Service.Bodies.back() == QLatin1String(body);
        });
    }
};

TEST(NotificationBody, IsCutBetweenCharactersAndEscaped) {
    const QString a199(199, QLatin1Char('a'));
    const QString emoji = QString::fromUtf16(u"\U0001F600");
    const QString more = QString(QChar(0x2026));
    const struct {
        const char* Name;
        QString Text;
        QString Body;
    } cases[] = {
        {"short", QStringLiteral("hi <b>&"), QStringLiteral("hi &lt;b&gt;&amp;")},
        {"200 units exactly", a199 + QLatin1Char('b'), a199 + QLatin1Char('b')},
        {"a pair ending at unit 200", a199.left(198) + emoji + QLatin1Char('x'),
         a199.left(198) + emoji + more},
        {"a pair across the cut", a199 + emoji, a199 + more},
        {"a pair across the cut, then more", a199 + emoji + QLatin1Char('z'), a199 + more},
        {"escaped after the cut", a199 + QStringLiteral("<<"),
         a199 + QStringLiteral("&lt;") + more},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(velantro::window::NotificationBody(c.Text).toStdU16String(),
                  c.Body.toStdU16String())
            << c.Name;
    }
}

TEST_F(DesktopNotificationsTest, AServiceThatAppearsAfterBeingAbsentIsAskedAgain) {
    DesktopNotifications notifications(Client);
    notifications.Notify("alice", "alice", "while nobody listens");
    RunEventsFor(300ms); // the daemon's answer: nobody owns the name
    notifications.Notify("alice", "alice", "still nobody");
    RunEventsFor(100ms);

    Appear();
    ASSERT_TRUE(ShownOnceItIsThere(notifications, "alice", "hello"));

    // Gone and back again, as a desktop's service restarting.
    Vanish();
    RunEventsFor(100ms);
    notifications.Notify("bob", "bob", "lost");
    RunEventsFor(300ms);
    Appear();
    EXPECT_TRUE(ShownOnceItIsThere(notifications, "bob", "back"));
}

TEST_F(DesktopNotificationsTest, AServiceThatRefusesOneCallIsStillAsked) {
    Appear();
    DesktopNotifications notifications(Client);
    Service.Failing = true;
    notifications.Notify("alice", "alice", "refused");
    ASSERT_TRUE(Received("refused"));
    RunEventsFor(100ms); // the refusal is answered
    Service.Failing = false;
    notifications.Notify("alice", "alice", "taken");
    EXPECT_TRUE(Received("taken"));
}

TEST_F(DesktopNotificationsTest, ABurstUpdatesOneBubbleWithItsLatestMessage) {
    Appear();
    DesktopNotifications notifications(Client);
    for (const char* body : {"one", "two", "three"}) {
        notifications.Notify("alice", "alice", body);
    }
    notifications.Notify("bob", "bob", "hi");
    ASSERT_TRUE(WaitUntil([&] { return Service.Bodies.size() == 3; }));
    RunEventsFor(200ms); // nothing more comes
    // The first opens alice's bubble (number 1); the last replaces it; bob
    // has a bubble of his own.
    EXPECT_EQ(Service.Bodies, (std::vector<QString>{"one", "hi", "three"}));
    EXPECT_EQ(Service.Replaced, (std::vector<quint32>{0, 0, 1}));
}

} // namespace

TEST_F(DesktopNotificationsTest, ABubblesDefaultActionNamesItsPartner) {
    DesktopNotifications notifications(Client);
    Appear();
    ASSERT_TRUE(ShownOnceItIsThere(notifications, "alice", "one"));
    notifications.Notify("bob", "bob", "two");
    ASSERT_TRUE(Received("two"));
    const auto bobs = static_cast<quint32>(Service.Bodies.size()); // the service's number
    EXPECT_EQ(Service.Actions, (QStringList{"default", "Show"}));
    RunEventsFor(50ms); // the answer naming bob's bubble
    std::vector<std::string> activated;
    QObject::connect(&notifications, &DesktopNotifications::Activated,
                     [&](const std::string& partner) { activated.push_back(partner); });
    struct Click {
        quint32 Bubble;
        const char* Action;
    };
    for (const Click click :
         {Click{bobs, "default"}, Click{bobs, "other"}, Click{bobs + 7, "default"}}) {
        QDBusMessage signal =
            QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                       ServiceName, QStringLiteral("ActionInvoked"));
        signal << click.Bubble << QString::fromLatin1(click.Action);
        ASSERT_TRUE(Server.send(signal));
    }
    EXPECT_TRUE(WaitUntil([&] { return !activated.empty(); }));
    RunEventsFor(100ms);
    EXPECT_EQ(activated, std::vector<std::string>{"bob"}) << "only bob's default action";
}
