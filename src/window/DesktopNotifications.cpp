#include "window/DesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

namespace velantro::window {

namespace {

constexpr auto Service = "org.freedesktop.Notifications";
constexpr auto Path = "/org/freedesktop/Notifications";
constexpr auto Interface = "org.freedesktop.Notifications";

QDBusMessage Call(const char* method) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(Service), QLatin1String(Path),
                                       QLatin1String(Interface), QLatin1String(method));
    // Only a service that is already running: never start one for a bubble.
    call.setAutoStartService(false);
    return call;
}

} // namespace

QString NotificationBody(const QString& text) {
    if (text.size() <= NotificationBodyShown) {
        return text.toHtmlEscaped();
    }
    qsizetype cut = NotificationBodyShown;
    // A high surrogate without its low half would show as garbage.
    if (text.at(cut - 1).isHighSurrogate()) {
        --cut;
    }
    return (text.left(cut) + QChar(0x2026)).toHtmlEscaped();
}

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , Bus(std::move(bus)) {
    if (!Bus.isConnected()) {
        return;
    }
    auto* watcher = new QDBusServiceWatcher(QLatin1String(Service), Bus,
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        ++Appearances;
        Absent = false;
    });
    Bus.connect(QLatin1String(Service), QLatin1String(Path), QLatin1String(Interface),
                QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
}

void DesktopNotifications::ActionInvoked(uint id, const QString& action) {
    if (action != QLatin1String("default") || id == 0) {
        return;
    }
    for (const auto& [partner, bubble] : Bubbles) {
        if (bubble.Id == id && !bubble.Withdrawn) {
            emit Activated(partner);
            return;
        }
    }
}

void DesktopNotifications::NoteAbsence(const QDBusError& error, quint64 appearances) {
    // Without starting a service, the daemon answers a call to a name that
    // nobody owns with NameHasNoOwner (ServiceUnknown from older daemons).
    const QString name = error.name();
    if (appearances == Appearances &&
        (name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
         name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))) {
        Absent = true;
    }
}

void DesktopNotifications::Notify(const std::string& partner, const QString& summary,
                                  const QString& body) {
    if (!Bus.isConnected() || Absent) {
        return;
    }
    Bubble& bubble = Bubbles[partner];
    bubble.Withdrawn = false;
    if (bubble.InFlight) {
        // Sent once the service has answered, replacing the bubble it names:
        // a burst of messages updates one bubble instead of opening many.
        bubble.Waiting.emplace(summary, body);
        return;
    }
    Send(partner, bubble, summary, body);
}

void DesktopNotifications::Send(const std::string& partner, Bubble& bubble, const QString& summary,
                                const QString& body) {
    bubble.Request = ++Requests;
    bubble.InFlight = true;
    QDBusMessage call = Call("Notify");
    QVariantMap hints;
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("velantro"));
    call << QStringLiteral("Velantro") << bubble.Id << QStringLiteral("velantro") << summary
         << NotificationBody(body) << QStringList{QStringLiteral("default"), QStringLiteral("Show")}
         << hints << qint32(-1);
    auto* watcher = new QDBusPendingCallWatcher(Bus.asyncCall(call), this);
    const quint64 request = bubble.Request;
    const quint64 appearances = Appearances;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, partner, request, appearances](QDBusPendingCallWatcher* answered) {
                answered->deleteLater();
                Answered(partner, request, appearances, *answered);
            });
}

void DesktopNotifications::Answered(const std::string& partner, quint64 request,
                                    quint64 appearances, const QDBusPendingCall& call) {
    const QDBusPendingReply<quint32> reply = call;
    auto found = Bubbles.find(partner);
    const bool current = found != Bubbles.end() && found->second.Request == request;
    if (current) {
        found->second.InFlight = false;
    }
    if (reply.isError()) {
        NoteAbsence(reply.error(), appearances);
        if (current) {
            SendWaiting(partner, found->second);
        }
        return;
    }
    const quint32 id = reply.value();
    if (!current) {
        // A withdrawal overtook this one: its bubble is not the partner's
        // current one.
        if (found == Bubbles.end() || found->second.Id != id) {
            Close(id);
        }
        return;
    }
    found->second.Id = id;
    if (found->second.Withdrawn) {
        Close(id);
        Bubbles.erase(found);
        return;
    }
    SendWaiting(partner, found->second);
}

void DesktopNotifications::SendWaiting(const std::string& partner, Bubble& bubble) {
    if (!bubble.Waiting || Absent) {
        bubble.Waiting.reset();
        return;
    }
    const auto [summary, body] = std::move(*bubble.Waiting);
    bubble.Waiting.reset();
    Send(partner, bubble, summary, body);
}

void DesktopNotifications::Withdraw(const std::string& partner) {
    auto found = Bubbles.find(partner);
    if (found == Bubbles.end()) {
        return;
    }
    found->second.Waiting.reset();
    if (found->second.Id == 0) {
        found->second.Withdrawn = true; // closed when the service answers
        return;
    }
    Close(found->second.Id);
    Bubbles.erase(found);
}

void DesktopNotifications::Close(quint32 id) {
    QDBusMessage call = Call("CloseNotification");
    call << id;
    Bus.asyncCall(call);
}

} // namespace velantro::window
