#include "XmppAccount.h"

#include "ChatClient.h"
#include "common/EscapedText.h"

#include <cstring>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <utility>

namespace velantro::standins {

namespace {

// libstrophe hands the new socket to a callback that carries no user data;
// it comes inside the account's own call into libstrophe, so the account
// making that call takes it.
thread_local XmppAccount* CallingAccount = nullptr;

class CallScope {
public:
    explicit CallScope(XmppAccount* account)
        : Previous(CallingAccount) {
        CallingAccount = account;
    }
    ~CallScope() { CallingAccount = Previous; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    XmppAccount* Previous;
};

// libstrophe reads at most 4 KiB per turn. A TLS record holds up to 16 KiB,
// and what OpenSSL has decrypted of it shows on no socket: once the socket
// has nothing more, four turns empty the record. A wake-up ends after
// MaxTurnsPerWakeUp turns so that the peer's other work gets its turn; the
// socket, still readable, brings the next one.
constexpr int TurnsPerRecord = 4;
constexpr int MaxTurnsPerWakeUp = 64;
constexpr std::chrono::seconds TimerPeriod{1};
// The archive's state is written this long after it changed, so that a
// program marking many messages seen costs one write.
constexpr std::chrono::seconds SaveDelay{1};
constexpr std::string_view MamNs = "urn:xmpp:mam:2";
constexpr std::string_view CarbonsNs = "urn:xmpp:carbons:2";

struct StanzaRelease {
    void operator()(xmpp_stanza_t* stanza) const { xmpp_stanza_release(stanza); }
};
using Stanza = std::unique_ptr<xmpp_stanza_t, StanzaRelease>;

std::string StreamErrorText(const xmpp_stream_error_t& error) {
    std::string text = "stream error";
    if (error.stanza != nullptr) {
        for (xmpp_stanza_t* child = xmpp_stanza_get_children(error.stanza); child != nullptr;
             child = xmpp_stanza_get_next(child)) {
            const char* name = xmpp_stanza_get_name(child);
            if (name != nullptr && std::strcmp(name, "text") != 0) {
                text += std::string(" ") + name;
                break;
            }
        }
    }
    if (error.text != nullptr) {
        text += std::string(": ") + error.text;
    }
    return text;
}

std::optional<ArchiveState> LoadState(const std::string& path, std::string& problem) {
    return path.empty() ? std::nullopt : LoadArchiveState(path, problem);
}

} // namespace

XmppAccount::XmppAccount(XmppSettings settings, std::string password, Events events)
    : Settings(std::move(settings))
    , Password(std::move(password))
    , Tell(std::move(events))
    , Mapping(Settings.Jid)
    , Archive(LoadState(Settings.StatePath, StateProblem)) {
    Mapping.SetOwnIdPrefix("velantro-" + Archive.Device() + "-");
    SaveTimer.setSingleShot(true);
    SaveTimer.setInterval(SaveDelay);
    QObject::connect(&SaveTimer, &QTimer::timeout, [this] { SaveState(); });
    if (!Settings.LogPath.empty()) {
        LogFile.open(Settings.LogPath, std::ios::binary | std::ios::trunc);
        if (!LogFile) {
            throw std::runtime_error("cannot write the XMPP log " + Settings.LogPath);
        }
    }
    xmpp_initialize();
    Logger.handler = &XmppAccount::OnLog;
    Logger.userdata = this;
    Ctx.reset(xmpp_ctx_new(nullptr, &Logger));
    Ticker.setInterval(TimerPeriod);
    QObject::connect(&Ticker, &QTimer::timeout, [this] { Pump(); });
    Retry.setSingleShot(true);
    QObject::connect(&Retry, &QTimer::timeout, [this] { Connect(); });
    EventTimer.setSingleShot(true);
    EventTimer.setInterval(0);
    QObject::connect(&EventTimer, &QTimer::timeout, [this] { DeliverEvents(); });
    PumpAgain.setSingleShot(true);
    PumpAgain.setInterval(0);
    QObject::connect(&PumpAgain, &QTimer::timeout, [this] { Pump(); });
}

XmppAccount::~XmppAccount() {
    if (Archive.Changed()) {
        SaveState();
    }
    // Releasing a live connection may report its end: nobody listens any more.
    Tell = Events{};
    Retry.stop();
    Deadline.reset();
    Readable.reset();
    Writable.reset();
    Conn.reset();
    Ctx.reset();
    xmpp_shutdown();
}

void XmppAccount::Start() {
    if (!StateProblem.empty() && Tell.Problem) {
        Tell.Problem("XMPP: " + StateProblem +
                     "; the message archive is read on from its newest "
                     "message");
    }
    Connect();
}

void XmppAccount::Connect() {
    DropWatch();
    Online = false;
    Problem.Reset();
    Deadline = std::make_unique<SocketDeadline>(SignInLimit);
    Conn.reset(xmpp_conn_new(Ctx.get()));
    xmpp_conn_t* conn = Conn.get();
    // Stream resumption is left out: a new session reads the roster afresh.
    long flags = XMPP_CONN_FLAG_DISABLE_SM;
    flags |= Settings.Plain ? XMPP_CONN_FLAG_DISABLE_TLS : XMPP_CONN_FLAG_MANDATORY_TLS;
    xmpp_conn_set_flags(conn, flags);
    xmpp_conn_set_jid(conn, Mapping.OwnHandle().c_str());
    xmpp_conn_set_pass(conn, Password.c_str());
    if (!Settings.CaFile.empty()) {
        xmpp_conn_set_cafile(conn, Settings.CaFile.c_str());
    }
    xmpp_conn_set_sockopt_callback(conn, &XmppAccount::OnSocket);

    // Without TLS the server is named outright, so no DNS record can send the
    // connection anywhere but the loopback address the settings allowed.
    std::string host = Settings.ServerHost;
    if (host.empty() && Settings.Plain) {
        host = JidDomain(Mapping.OwnHandle());
    }
    const std::string where =
        host.empty() ? JidDomain(Mapping.OwnHandle())
                     : host + (Settings.ServerPort != 0 ? ":" + std::to_string(Settings.ServerPort)
                                                        : std::string());
    if (Tell.Note) {
        Tell.Note("connecting to " + where + " as " + Mapping.OwnHandle() +
                  (Settings.Plain ? " without TLS" : " with TLS"));
    }
    int result = XMPP_EOK;
    {
        CallScope scope(this);
        result = xmpp_connect_client(conn, host.empty() ? nullptr : host.c_str(),
                                     Settings.ServerPort, &XmppAccount::OnConnection, this);
    }
    if (result != XMPP_EOK) {
        Deadline.reset();
        Reconnect("cannot connect to " + where +
                  (Problem.Text().empty() ? std::string() : " (" + Problem.Text() + ")"));
        return;
    }
    Rewatch();
}

void XmppAccount::Pump() {
    if (Pumping) {
        PumpAgain.start();
        return;
    }
    Pumping = true;
    {
        CallScope scope(this);
        RunTurns();
    }
    Pumping = false;
    Rewatch();
}

void XmppAccount::RunTurns() {
    for (int turn = 0; turn < MaxTurnsPerWakeUp && Conn; ++turn) {
        xmpp_run_once(Ctx.get(), 0);
        if (!SocketReadable()) {
            for (int drain = 0; drain < TurnsPerRecord && Conn; ++drain) {
                xmpp_run_once(Ctx.get(), 0);
            }
            return;
        }
    }
}

bool XmppAccount::SocketReadable() const {
    if (Socket < 0) {
        return false;
    }
    pollfd watched{Socket, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0;
}

void XmppAccount::Post(std::function<void()> event) {
    Queued.push_back(std::move(event));
    EventTimer.start();
}

void XmppAccount::DeliverEvents() {
    // Events queued while these are reported wait for the next turn.
    std::deque<std::function<void()>> events;
    events.swap(Queued);
    for (const auto& event : events) {
        event();
    }
}

void XmppAccount::Watch(int fd) {
    DropWatch();
    Socket = fd;
    Readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    Writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    QObject::connect(Readable.get(), &QSocketNotifier::activated, [this] { Pump(); });
    QObject::connect(Writable.get(), &QSocketNotifier::activated, [this] { Pump(); });
    Ticker.start();
}

void XmppAccount::Rewatch() {
    if (!Readable || !Conn) {
        return;
    }
    // While the connection is being made libstrophe waits for writability
    // only; afterwards it reads, and writes while it has something queued.
    const bool connecting = xmpp_conn_is_connecting(Conn.get()) != 0;
    Readable->setEnabled(!connecting);
    Writable->setEnabled(connecting || xmpp_conn_send_queue_len(Conn.get()) > 0);
}

void XmppAccount::DropWatch() {
    Ticker.stop();
    Socket = -1;
    // Possibly inside one of their own signals: they go once it is over.
    for (auto* notifier : {&Readable, &Writable}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            notifier->release()->deleteLater();
        }
    }
}

void XmppAccount::Reconnect(const std::string& why) {
    const std::chrono::seconds pause = Backoff.Next();
    if (Tell.Problem) {
        Tell.Problem("XMPP: " + why + "; next attempt in " + std::to_string(pause.count()) + " s");
    }
    Retry.start(pause);
}

void XmppAccount::Connected() {
    xmpp_conn_t* conn = Conn.get();
    xmpp_handler_add(conn, &XmppAccount::OnMessage, nullptr, "message", nullptr, this);
    xmpp_handler_add(conn, &XmppAccount::OnPush, nullptr, "iq", nullptr, this);
    const std::string id = NextId();
    Stanza iq(xmpp_iq_new(Ctx.get(), "get", id.c_str()));
    Stanza query(xmpp_stanza_new(Ctx.get()));
    xmpp_stanza_set_name(query.get(), "query");
    xmpp_stanza_set_ns(query.get(), "jabber:iq:roster");
    xmpp_stanza_add_child(iq.get(), query.get());
    xmpp_id_handler_add(conn, &XmppAccount::OnRoster, id.c_str(), this);
    xmpp_send(conn, iq.get());
    Problem.Reached(ConnectionProblem::Stage::AwaitingRoster);
}

void XmppAccount::RosterArrived(xmpp_stanza_t* iq) {
    const char* type = xmpp_stanza_get_type(iq);
    if (type != nullptr && std::strcmp(type, "result") == 0) {
        Mapping.TakeRoster(iq);
    }
    // Available, so the server hands over the messages sent to the bare JID.
    Stanza presence(xmpp_presence_new(Ctx.get()));
    xmpp_send(Conn.get(), presence.get());
    Discover();
    Online = true;
    EverOnline = true;
    Deadline.reset();
    Backoff.Reset();
    ReportRefused();
    if (Tell.Note) {
        Tell.Note("signed in as " + Mapping.OwnHandle() +
                  "; friends in the roster: " + std::to_string(Mapping.Friends().size()));
    }
    Post([this] {
        if (Tell.SignedIn) {
            Tell.SignedIn();
        }
    });
}

void XmppAccount::ReportRefused() {
    for (const std::string& jid : Mapping.TakeRefused()) {
        if (Tell.Problem) {
            Tell.Problem("XMPP: the roster item \"" + tools::EscapeBytes(jid) +
                         "\" is not offered as a friend: a friends list cannot carry a handle "
                         "with a comma or a blank");
        }
    }
}

void XmppAccount::MessageArrived(xmpp_stanza_t* message) {
    const XmppArrival arrival = Mapping.Read(message);
    if (arrival.What == XmppArrival::Kind::Forged) {
        const char* from = xmpp_stanza_get_from(message);
        ReportOnce(ForgeryReported,
                   "XMPP: ignored a copy of a message (carbon or archive result) from \"" +
                       tools::EscapeBytes(from != nullptr ? from : "") +
                       "\", which is not the account itself; later ones are ignored unsaid");
        return;
    }
    const XmppArchive::Admission admission = Archive.Admit(arrival);
    ScheduleSave();
    if (admission.News) {
        HandOver(arrival, admission.Tag);
    }
}

void XmppAccount::HandOver(const XmppArrival& arrival, std::uint64_t tag) {
    if (arrival.What == XmppArrival::Kind::Own) {
        if (Tell.Note) {
            Tell.Note("message to " + arrival.Partner + " written on another device");
        }
        Post([this, message = OwnMessage{arrival.Partner, arrival.Body, arrival.Timestamp}] {
            if (Tell.OwnSent) {
                Tell.OwnSent(message);
            }
        });
        return;
    }
    if (Tell.Note) {
        Tell.Note("message from " + arrival.Partner);
    }
    Post([this, message = IncomingMessage{arrival.Partner, arrival.Body, arrival.Timestamp, tag}] {
        if (Tell.Incoming) {
            Tell.Incoming(message);
        }
    });
}

void XmppAccount::Discover() {
    // The archive belongs to the account, carbons to its server.
    const std::string accountId = NextId();
    Stanza account(XmppMapping::DiscoInfo(Ctx.get(), Mapping.OwnHandle(), accountId));
    xmpp_id_handler_add(Conn.get(), &XmppAccount::OnAccountInfo, accountId.c_str(), this);
    xmpp_send(Conn.get(), account.get());
    const std::string serverId = NextId();
    Stanza server(XmppMapping::DiscoInfo(Ctx.get(), JidDomain(Mapping.OwnHandle()), serverId));
    xmpp_id_handler_add(Conn.get(), &XmppAccount::OnServerInfo, serverId.c_str(), this);
    xmpp_send(Conn.get(), server.get());
}

void XmppAccount::AccountInfoArrived(xmpp_stanza_t* iq) {
    const char* from = xmpp_stanza_get_from(iq);
    if ((from != nullptr && from != Mapping.OwnHandle()) || !XmppMapping::Offers(iq, MamNs)) {
        if (Tell.Note) {
            Tell.Note("no message archive: only what the server keeps while offline arrives");
        }
        return;
    }
    AskArchive(Archive.Begin());
}

void XmppAccount::AskArchive(const XmppArchive::Query& query) {
    if (Tell.Note) {
        Tell.Note(query.Newest ? "asking the message archive for its newest message"
                               : "reading the message archive after \"" +
                                     tools::EscapeBytes(query.After) + "\"");
    }
    const std::string id = NextId();
    Stanza iq(XmppMapping::ArchiveQuery(Ctx.get(), id, query.Id, query.After, XmppArchive::PageSize,
                                        query.Newest));
    xmpp_id_handler_add(Conn.get(), &XmppAccount::OnArchivePage, id.c_str(), this);
    xmpp_send(Conn.get(), iq.get());
}

void XmppAccount::ArchivePageArrived(xmpp_stanza_t* iq) {
    std::string problem;
    std::string note;
    const auto next = Archive.PageEnded(XmppMapping::ReadArchivePage(iq), problem, note);
    if (!problem.empty() && Tell.Problem) {
        Tell.Problem("XMPP: " + problem);
    }
    if (!note.empty() && Tell.Note) {
        Tell.Note(note);
    }
    ScheduleSave();
    if (next) {
        AskArchive(*next);
    } else if (Tell.Note) {
        Tell.Note("message archive read");
    }
}

void XmppAccount::ServerInfoArrived(xmpp_stanza_t* iq) {
    const char* from = xmpp_stanza_get_from(iq);
    if (from == nullptr || from != JidDomain(Mapping.OwnHandle()) ||
        !XmppMapping::Offers(iq, CarbonsNs)) {
        return;
    }
    // What the user writes and receives on other devices is copied here too.
    Stanza enable(XmppMapping::EnableCarbons(Ctx.get(), NextId()));
    xmpp_send(Conn.get(), enable.get());
    if (Tell.Note) {
        Tell.Note("message carbons on");
    }
}

void XmppAccount::Settled(std::uint64_t tag) {
    Archive.Settled(tag);
    ScheduleSave();
}

void XmppAccount::ScheduleSave() {
    if (Archive.Changed() && !Settings.StatePath.empty() && !SaveTimer.isActive()) {
        SaveTimer.start();
    }
}

void XmppAccount::SaveState() {
    if (Settings.StatePath.empty()) {
        return;
    }
    try {
        SaveArchiveState(Settings.StatePath, Archive.TakeState());
    } catch (const std::exception& error) {
        ReportOnce(SaveFailureReported,
                   std::string("XMPP: ") + error.what() +
                       "; after a restart, messages of the archive may be offered again");
    }
}

void XmppAccount::ReportOnce(bool& reported, const std::string& line) {
    if (!reported && Tell.Problem) {
        reported = true;
        Tell.Problem(line);
    }
}

void XmppAccount::PushArrived(xmpp_stanza_t* iq) {
    const char* type = xmpp_stanza_get_type(iq);
    if (type == nullptr || (std::strcmp(type, "get") != 0 && std::strcmp(type, "set") != 0)) {
        return; // results and errors belong to the requests that wait for them
    }
    const bool push = std::strcmp(type, "set") == 0 &&
                      xmpp_stanza_get_child_by_name_and_ns(iq, "query", "jabber:iq:roster");
    if (!push) {
        // Every request must be answered; this client offers no service.
        Stanza error(XmppMapping::IqUnavailable(Ctx.get(), iq));
        xmpp_send(Conn.get(), error.get());
        return;
    }
    const XmppMapping::PushOutcome outcome = Mapping.TakePush(iq);
    if (outcome == XmppMapping::PushOutcome::Ignored) {
        return;
    }
    Stanza result(XmppMapping::IqResult(Ctx.get(), iq));
    xmpp_send(Conn.get(), result.get());
    ReportRefused();
    if (outcome == XmppMapping::PushOutcome::Changed) {
        Post([this] {
            if (Tell.FriendsChanged) {
                Tell.FriendsChanged();
            }
        });
    }
}

void XmppAccount::Disconnected(int error, const xmpp_stream_error_t* streamError) {
    DropWatch();
    Archive.SignedOut();
    const bool wasOnline = Online;
    const bool stalled = Deadline && Deadline->Expired();
    Deadline.reset();
    Online = false;
    const bool authFailed = Problem.AuthenticationFailed();
    std::string why;
    if (stalled) {
        // The deadline ended the socket: whatever libstrophe makes of that
        // end, the server is what stalled.
        why = Problem.StallText() + " (no sign-in within " + std::to_string(SignInLimit.count()) +
              " s)";
    } else if (authFailed) {
        why = "the server did not accept the password of " + Mapping.OwnHandle();
    } else if (streamError != nullptr) {
        why = StreamErrorText(*streamError);
    } else if (!Problem.Text().empty()) {
        why = Problem.Text();
    } else if (error != 0) {
        why = std::strerror(error);
    } else {
        why = "the server closed the connection";
    }
    if (authFailed && !stalled && !EverOnline) {
        Post([this, why] {
            if (Tell.AuthenticationFailed) {
                Tell.AuthenticationFailed(why);
            }
        });
        return;
    }
    if (wasOnline) {
        Post([this, why] {
            if (Tell.SignedOut) {
                Tell.SignedOut(why);
            }
        });
    }
    Reconnect((wasOnline ? "connection lost: " : "cannot sign in: ") + why);
}

Delivery XmppAccount::Deliver(std::string_view handle, std::string_view text) {
    if (!IsFriendHandle(handle)) {
        return {std::string(errors::InvalidUserHandle), std::nullopt};
    }
    if (!Online || !Conn) {
        return {std::string(NotConnectedError), std::nullopt};
    }
    // Ids of a form of this peer's own, so that their copies in the archive are known.
    const std::string id = "velantro-" + Archive.Device() + "-" + std::to_string(++MessageSequence);
    Stanza message(XmppMapping::ChatMessage(Ctx.get(), handle, text, id));
    xmpp_send(Conn.get(), message.get());
    // Only the watch changes here: libstrophe runs from the event loop, never
    // inside a command that is being answered.
    Rewatch();
    if (Tell.Note) {
        Tell.Note("message to " + std::string(handle));
    }
    return {};
}

void XmppAccount::Log(xmpp_log_level_t level, const char* area, const char* text) {
    const std::string redacted =
        RedactLogLine(text != nullptr ? std::string_view(text) : std::string_view(), Password);
    if (LogFile.is_open()) {
        LogFile << (area != nullptr ? area : "") << ": " << redacted << '\n' << std::flush;
    }
    const auto problemLevel = level >= XMPP_LEVEL_ERROR  ? ConnectionProblem::Level::Error
                              : level >= XMPP_LEVEL_WARN ? ConnectionProblem::Level::Warning
                              : level >= XMPP_LEVEL_INFO ? ConnectionProblem::Level::Info
                                                         : ConnectionProblem::Level::Debug;
    Problem.Take(problemLevel, area != nullptr ? area : "", redacted);
}

std::string XmppAccount::NextId() {
    return "velantro" + std::to_string(++Sequence);
}

void XmppAccount::OnConnection(xmpp_conn_t* /*conn*/, xmpp_conn_event_t event, int error,
                               xmpp_stream_error_t* streamError, void* self) {
    auto* account = static_cast<XmppAccount*>(self);
    if (event == XMPP_CONN_CONNECT) {
        account->Connected();
    } else if (event == XMPP_CONN_DISCONNECT || event == XMPP_CONN_FAIL) {
        account->Disconnected(error, streamError);
    }
}

int XmppAccount::OnSocket(xmpp_conn_t* conn, void* socket) {
    if (CallingAccount != nullptr) {
        const int fd = *static_cast<int*>(socket);
        CallingAccount->Watch(fd);
        if (CallingAccount->Deadline) {
            CallingAccount->Deadline->Watch(fd);
        }
    }
    // Keep-alive probes find a connection whose other end vanished silently.
    return xmpp_sockopt_cb_keepalive(conn, socket);
}

int XmppAccount::OnRoster(xmpp_conn_t* /*conn*/, xmpp_stanza_t* stanza, void* self) {
    static_cast<XmppAccount*>(self)->RosterArrived(stanza);
    return 0; // one answer per request
}

int XmppAccount::OnMessage(xmpp_conn_t* /*conn*/, xmpp_stanza_t* stanza, void* self) {
    static_cast<XmppAccount*>(self)->MessageArrived(stanza);
    return 1;
}

int XmppAccount::OnPush(xmpp_conn_t* /*conn*/, xmpp_stanza_t* stanza, void* self) {
    static_cast<XmppAccount*>(self)->PushArrived(stanza);
    return 1;
}

int XmppAccount::OnAccountInfo(xmpp_conn_t* /*conn*/, xmpp_stanza_t* stanza, void* self) {
    static_cast<XmppAccount*>(self)->AccountInfoArrived(stanza);
    return 0;
}

int XmppAccount::OnServerInfo(xmpp_conn_t* /*conn*/, xmpp_stanza_t* stanza, void* self) {
    static_cast<XmppAccount*>(self)->ServerInfoArrived(stanza);
    return 0;
}

int XmppAccount::OnArchivePage(xmpp_conn_t* /*conn*/, xmpp_stanza_t* stanza, void* self) {
    static_cast<XmppAccount*>(self)->ArchivePageArrived(stanza);
    return 0;
}

void XmppAccount::OnLog(void* self, xmpp_log_level_t level, const char* area, const char* text) {
    static_cast<XmppAccount*>(self)->Log(level, area, text);
}

} // namespace velantro::standins
