#pragma once

// An XMPP account behind skype-peer's chat client, over libstrophe, driven by
// the peer's Qt event loop: socket notifiers on the connection's socket call
// into libstrophe when it has something to do, so nothing polls while the
// account is idle.
//
// libstrophe's handlers only take what a stanza brings and queue it; the
// account reports it from the event loop once libstrophe has returned, so
// nothing it reports to can run inside libstrophe or call back into it.

#include "ChatBackend.h"
#include "ConnectionProblem.h"
#include "SocketDeadline.h"
#include "XmppArchive.h"
#include "XmppMapping.h"
#include "XmppSettings.h"

#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <strophe.h>

namespace velantro::standins {

/// Answer to a message while the account is not signed in.
inline constexpr std::string_view NotConnectedError = "ERROR 8 Not connected to the chat network";

class XmppAccount final : public ChatBackend {
public:
    struct Events {
        /// Signed in, the roster read and presence sent.
        std::function<void()> SignedIn;
        /// The connection is gone after having been signed in; why, in words.
        std::function<void(const std::string& why)> SignedOut;
        /// The account refused the password before ever signing in during this run.
        std::function<void(const std::string& why)> AuthenticationFailed;
        std::function<void(const IncomingMessage&)> Incoming;
        /// A message the user wrote on another device (a carbon, or from the archive).
        std::function<void(const OwnMessage&)> OwnSent;
        std::function<void()> FriendsChanged;
        /// A line for the console (progress; errors go to Problem).
        std::function<void(const std::string&)> Note;
        std::function<void(const std::string&)> Problem;
    };

    /// Throws std::runtime_error when the log cannot be written.
    XmppAccount(XmppSettings settings, std::string password, Events events);
    ~XmppAccount() override;
    XmppAccount(const XmppAccount&) = delete;
    XmppAccount& operator=(const XmppAccount&) = delete;

    /// Starts the first connection attempt.
    void Start();

    /// Each attempt has this long, from its start, to connect, finish TLS,
    /// open the stream, sign in and read the roster; then it is given up,
    /// reported and tried again after the usual pause.
    static constexpr std::chrono::seconds SignInLimit{30};

    bool SignedIn() const { return Online; }

    std::string UserHandle() const override { return Mapping.OwnHandle(); }
    std::vector<std::string> Friends() const override { return Mapping.Friends(); }
    Delivery Deliver(std::string_view handle, std::string_view text) override;
    void Settled(std::uint64_t tag) override;

private:
    struct ContextFree {
        void operator()(xmpp_ctx_t* ctx) const { xmpp_ctx_free(ctx); }
    };
    struct ConnectionRelease {
        void operator()(xmpp_conn_t* conn) const { xmpp_conn_release(conn); }
    };

    void Connect();
    void Pump();
    void RunTurns();
    bool SocketReadable() const;
    /// Queues an event for the peer, reported from the event loop.
    void Post(std::function<void()> event);
    void DeliverEvents();
    void ReportRefused();
    void Watch(int fd);
    void Rewatch();
    void DropWatch();
    void Reconnect(const std::string& why);
    void Connected();
    void Disconnected(int error, const xmpp_stream_error_t* streamError);
    void RosterArrived(xmpp_stanza_t* iq);
    void MessageArrived(xmpp_stanza_t* message);
    void HandOver(const XmppArrival& arrival, std::uint64_t tag);
    void PushArrived(xmpp_stanza_t* iq);
    /// After signing in: what the account and its server offer.
    void Discover();
    void AccountInfoArrived(xmpp_stanza_t* iq);
    void ServerInfoArrived(xmpp_stanza_t* iq);
    void AskArchive(const XmppArchive::Query& query);
    void ArchivePageArrived(xmpp_stanza_t* iq);
    void ScheduleSave();
    void SaveState();
    void ReportOnce(bool& reported, const std::string& line);
    void Log(xmpp_log_level_t level, const char* area, const char* text);
    std::string NextId();

    static void OnConnection(xmpp_conn_t* conn, xmpp_conn_event_t event, int error,
                             xmpp_stream_error_t* streamError, void* self);
    static int OnSocket(xmpp_conn_t* conn, void* socket);
    static int OnRoster(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static int OnMessage(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static int OnPush(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static int OnAccountInfo(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static int OnServerInfo(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static int OnArchivePage(xmpp_conn_t* conn, xmpp_stanza_t* stanza, void* self);
    static void OnLog(void* self, xmpp_log_level_t level, const char* area, const char* text);

    XmppSettings Settings;
    std::string Password;
    Events Tell;
    XmppMapping Mapping;
    /// Why the archive's state could not be read, said once the account starts.
    std::string StateProblem;
    XmppArchive Archive;
    /// Writes the archive's state a moment after it changed, once for many changes.
    QTimer SaveTimer;
    bool ForgeryReported = false;
    bool SaveFailureReported = false;
    ReconnectBackoff Backoff;
    std::ofstream LogFile;
    xmpp_log_t Logger{};
    std::unique_ptr<xmpp_ctx_t, ContextFree> Ctx;
    std::unique_ptr<xmpp_conn_t, ConnectionRelease> Conn;
    std::unique_ptr<QSocketNotifier> Readable;
    std::unique_ptr<QSocketNotifier> Writable;
    int Socket = -1;
    /// The current attempt's limit, until it has signed in.
    std::unique_ptr<SocketDeadline> Deadline;
    /// Events taken inside libstrophe, waiting for the event loop.
    std::deque<std::function<void()>> Queued;
    QTimer EventTimer;
    /// Set while libstrophe runs, so that it is never entered again from
    /// inside itself; a wake-up meanwhile is served by PumpAgain.
    bool Pumping = false;
    QTimer PumpAgain;
    /// Runs libstrophe's own timers (the connection attempt's time limit)
    /// while a connection exists.
    QTimer Ticker;
    QTimer Retry;
    bool Online = false;
    bool EverOnline = false;
    /// Why the current connection attempt failed, as libstrophe reports it.
    ConnectionProblem Problem;
    unsigned Sequence = 0;
    unsigned MessageSequence = 0;
};

} // namespace velantro::standins
