#pragma once

// The desktop's notification bubbles (org.freedesktop.Notifications on the
// session bus): at most one per conversation partner, each replaced by the
// partner's next message and withdrawn when the partner's page is shown. One
// call at a time per partner: the latest text waits for the answer that
// names the bubble it replaces.
// Nothing happens when no notification service runs: once the bus says it
// is not there, no call is made until it appears. Never waits for the
// service: every call is answered on the event loop.

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusPendingCall>
#include <QObject>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace velantro::window {

/// A bubble shows a glimpse of a message; the page has the whole of it.
inline constexpr int NotificationBodyShown = 200;

/// The body a bubble shows for a message: at most NotificationBodyShown
/// UTF-16 units, cut between characters (never inside a surrogate pair) and
/// then marked by "…"; escaped, since services may read it as markup.
QString NotificationBody(const QString& text);

class DesktopNotifications final : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    /// Shows summary and body for partner, replacing partner's bubble on show.
    void Notify(const std::string& partner, const QString& summary, const QString& body);
    /// Takes partner's bubble away, also one whose Notify is still unanswered.
    void Withdraw(const std::string& partner);

signals:
    /// The user clicked partner's bubble (its default action).
    void Activated(const std::string& partner);

private slots:
    void ActionInvoked(uint id, const QString& action);

private:
    struct Bubble {
        quint32 Id = 0;      // the service's number for it; 0 until it answers
        quint64 Request = 0; // the latest Notify, so that only its answer counts
        bool Withdrawn = false;
        bool InFlight = false; // a Notify awaits its answer
        // The latest text that came meanwhile (summary, body).
        std::optional<std::pair<QString, QString>> Waiting;
    };
    void Send(const std::string& partner, Bubble& bubble, const QString& summary,
              const QString& body);
    void Answered(const std::string& partner, quint64 request, quint64 appearances,
                  const QDBusPendingCall& call);
    void SendWaiting(const std::string& partner, Bubble& bubble);
    void Close(quint32 id);
    /// Whether the error answering a call made after appearance number
    /// `appearances` shows that no service is there now.
    void NoteAbsence(const QDBusError& error, quint64 appearances);

    QDBusConnection Bus;
    std::map<std::string, Bubble> Bubbles;
    quint64 Requests = 0;
    // A service known to be absent is not asked; its appearance (counted,
    // so that an answer from before it cannot mark it absent) asks again.
    quint64 Appearances = 0;
    bool Absent = false;
};

} // namespace velantro::window
