#pragma once

// The desktop's notification bubbles (org.freedesktop.Notifications on the
// session bus): at most one per conversation partner, each replaced by the
// partner's next message and withdrawn when the partner's page is shown.
// Nothing happens when no notification service runs. Never waits for the
// service: every call is answered on the event loop.

#include <QDBusConnection>
#include <QObject>
#include <map>
#include <string>

namespace velantro::app {

class DesktopNotifications final : public QObject {
    Q_OBJECT

public:
    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    /// Shows summary and body for partner, replacing partner's bubble on show.
    void Notify(const std::string& partner, const QString& summary, const QString& body);
    /// Takes partner's bubble away, also one whose Notify is still unanswered.
    void Withdraw(const std::string& partner);

private:
    struct Bubble {
        quint32 Id = 0;      // the service's number for it; 0 until it answers
        quint64 Request = 0; // the latest Notify, so that only its answer counts
        bool Withdrawn = false;
    };
    void Close(quint32 id);

    QDBusConnection Bus;
    std::map<std::string, Bubble> Bubbles;
    quint64 Requests = 0;
};

} // namespace velantro::app
