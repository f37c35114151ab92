// A desktop session manager (XSMP, through libSM) that does one thing: ends
// the session as a logout does. It prints the address its clients connect to
// (the value for SESSION_MANAGER), then a line for each step: "registered"
// when a client has registered, and on "logout" read from standard input it
// asks the client to save itself for a shutdown ("saved" once it has), tells
// it to die ("die") and says "gone" when the client has closed its connection.

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Session {
    SmsConn Client = nullptr;
    std::vector<IceConn> Connections;
    bool Gone = false;
};

void Say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

Status OnRegister(SmsConn connection, SmPointer, char* previousId) {
    std::free(previousId);
    char* id = SmsGenerateClientID(connection);
    const Status status = SmsRegisterClientReply(connection, id != nullptr ? id : (char*)"1");
    std::free(id);
    Say("registered");
    return status;
}

void OnInteractRequest(SmsConn connection, SmPointer, int) {
    SmsInteract(connection);
}

void OnInteractDone(SmsConn, SmPointer, Bool) {}

void OnSaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}

void OnSaveYourselfPhase2Request(SmsConn connection, SmPointer) {
    SmsSaveYourselfPhase2(connection);
}

void OnSaveYourselfDone(SmsConn connection, SmPointer, Bool) {
    Say("saved");
    SmsDie(connection);
    Say("die");
}

void OnCloseConnection(SmsConn connection, SmPointer data, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    auto* session = static_cast<Session*>(data);
    IceConn ice = SmsGetIceConnection(connection);
    SmsCleanUp(connection);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    session->Gone = true;
    Say("gone");
}

void OnSetProperties(SmsConn, SmPointer, int count, SmProp** properties) {
    for (int i = 0; i < count; ++i) {
        SmFreeProperty(properties[i]);
    }
    std::free(properties);
}

void OnDeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) {
        std::free(names[i]);
    }
    std::free(names);
}

void OnGetProperties(SmsConn connection, SmPointer) {
    SmsReturnProperties(connection, 0, nullptr);
}

Session* TheSession = nullptr; // libSM's new-client callback takes no data of ours

Status OnNewClient(SmsConn connection, SmPointer, unsigned long* mask, SmsCallbacks* callbacks,
                   char**) {
    TheSession->Client = connection;
    SmPointer data = TheSession;
    callbacks->register_client = {OnRegister, data};
    callbacks->interact_request = {OnInteractRequest, data};
    callbacks->interact_done = {OnInteractDone, data};
    callbacks->save_yourself_request = {OnSaveYourselfRequest, data};
    callbacks->save_yourself_phase2_request = {OnSaveYourselfPhase2Request, data};
    callbacks->save_yourself_done = {OnSaveYourselfDone, data};
    callbacks->close_connection = {OnCloseConnection, data};
    callbacks->set_properties = {OnSetProperties, data};
    callbacks->delete_properties = {OnDeleteProperties, data};
    callbacks->get_properties = {OnGetProperties, data};
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    return 1;
}

Bool AnyHost(char*) {
    return True;
}

} // namespace

int main() {
    Session session;
    TheSession = &session;
    char error[256] = {};
    int count = 0;
    IceListenObj* listeners = nullptr;
    if (!SmsInitialize("velantro-test", "1.0", OnNewClient, nullptr, AnyHost, sizeof error,
                       error) ||
        !IceListenForConnections(&count, &listeners, sizeof error, error)) {
        std::fprintf(stderr, "session manager: %s\n", error);
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        IceSetHostBasedAuthProc(listeners[i], AnyHost);
    }
    char* address = IceComposeNetworkIdList(count, listeners);
    Say(address);
    std::free(address);

    while (!session.Gone) {
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}};
        for (int i = 0; i < count; ++i) {
            fds.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
        }
        const std::vector<IceConn> connections = session.Connections;
        for (IceConn connection : connections) {
            fds.push_back({IceConnectionNumber(connection), POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            return 1;
        }
        if (fds[0].revents != 0) {
            char line[64] = {};
            if (fgets(line, sizeof line, stdin) == nullptr) {
                return 0;
            }
            if (std::string(line) == "logout\n" && session.Client != nullptr) {
                SmsSaveYourself(session.Client, SmSaveGlobal, True, SmInteractStyleNone, False);
            }
        }
        for (int i = 0; i < count; ++i) {
            if (fds[1 + i].revents != 0) {
                IceAcceptStatus status;
                IceConn connection = IceAcceptConnection(listeners[i], &status);
                if (connection != nullptr) {
                    while (IceConnectionStatus(connection) == IceConnectPending) {
                        IceProcessMessages(connection, nullptr, nullptr);
                    }
                    session.Connections.push_back(connection);
                }
            }
        }
        for (std::size_t i = 0; i < connections.size() && !session.Gone; ++i) {
            if (fds[1 + count + i].revents != 0 &&
                IceProcessMessages(connections[i], nullptr, nullptr) == IceProcessMessagesIOError) {
                session.Gone = true;
                Say("gone");
            }
        }
    }
    return 0;
}
