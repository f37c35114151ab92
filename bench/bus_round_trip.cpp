// The session bus alone, under the message burst: an incoming message costs
// five copy-data calls between Velantro and the chat client (the
// notification, two property requests and their two answers), each one a
// round trip through the bus daemon. This times such calls between two
// processes with nothing else to do, and prints the seconds they took:
//
//   windows  both ends are bus windows (Qt D-Bus, with its connection thread),
//            as Velantro and skype-peer are; each call goes out from the
//            event loop once the previous one's result has come back there,
//            as Velantro's commands do
//   bare     both ends are bare libdbus connections served from the thread
//            that makes or answers the call, with no thread in between
//
// usage: bus_round_trip windows|bare CALLS
// The answering end is this program again, started as a child; both run on
// the session bus of the environment (a private one, from the benchmark).

#include "platform/DesktopServices.h"
#include "platform/bus/BusWindows.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dbus/dbus.h>
#include <functional>
#include <iostream>
#include <memory>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using velantro::platform::BusWindows;
using velantro::platform::CopyDataMessage;
using velantro::platform::CopyDataRecord;
using velantro::platform::WindowHandle;
using velantro::platform::WindowMessage;

// A line of the length the chat client's answers have.
constexpr std::string_view Line = "CHATMESSAGE 1234 BODY Hola amigo, mensaje 517";
constexpr const char* BareName = "org.velantro.RoundTrip";
constexpr const char* BarePath = "/org/velantro/RoundTrip";
constexpr const char* BareInterface = "org.velantro.Window";
constexpr int BareTimeoutMs = 5000;

/// Ends this answering child when the caller is gone: its standard input,
/// the caller's pipe, reaches its end.
bool CallerGone() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    char byte = 0;
    return poll(&input, 1, 0) > 0 && read(STDIN_FILENO, &byte, 1) <= 0;
}

int AnswerAsWindow(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    BusWindows windows("round-trip answer");
    if (!windows.Connected()) {
        std::cerr << "bus_round_trip: " << windows.ErrorText() << "\n";
        return 1;
    }
    windows.HookMainWindow([](WindowMessage& message) {
        message.Result = message.Msg == CopyDataMessage ? 1 : 0;
        return message.Msg == CopyDataMessage;
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [] {
        if (CallerGone()) {
            QCoreApplication::quit();
        }
    });
    std::cout << windows.ApplicationWindow() << std::endl;
    windows.RunMessageLoop();
    return 0;
}

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;

Connection ConnectBare() {
    DBusError error;
    dbus_error_init(&error);
    Connection connection(dbus_bus_get_private(DBUS_BUS_SESSION, &error));
    if (!connection) {
        std::cerr << "bus_round_trip: " << error.message << "\n";
        dbus_error_free(&error);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection.get(), false);
    return connection;
}

void ReplyWithResult(DBusConnection* connection, DBusMessage* call) {
    DBusMessage* reply = dbus_message_new_method_return(call);
    const dbus_int64_t result = 1;
    dbus_message_append_args(reply, DBUS_TYPE_INT64, &result, DBUS_TYPE_INVALID);
    dbus_connection_send(connection, reply, nullptr);
    dbus_message_unref(reply);
}

int AnswerBare() {
    const Connection connection = ConnectBare();
    if (!connection ||
        dbus_bus_request_name(connection.get(), BareName, DBUS_NAME_FLAG_DO_NOT_QUEUE, nullptr) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        return 1;
    }
    std::cout << BareName << std::endl;
    int busFd = -1;
    dbus_connection_get_unix_fd(connection.get(), &busFd);
    for (;;) {
        pollfd fds[2] = {{busFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[1].revents != 0 && CallerGone()) ||
            !dbus_connection_read_write(connection.get(), 0)) {
            return 0;
        }
        while (DBusMessage* message = dbus_connection_pop_message(connection.get())) {
            if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_METHOD_CALL &&
                dbus_message_get_no_reply(message) == 0) {
                ReplyWithResult(connection.get(), message);
            }
            dbus_message_unref(message);
        }
    }
}

/// Starts the answering end; its first line names it.
std::unique_ptr<QProcess> StartAnswer(const char* mode, std::string& name) {
    auto answer = std::make_unique<QProcess>();
    answer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    answer->start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("answer-%1").arg(QLatin1String(mode))});
    if (!answer->waitForStarted() || !answer->waitForReadyRead(10000)) {
        return nullptr;
    }
    name = answer->readLine().trimmed().toStdString();
    return name.empty() ? nullptr : std::move(answer);
}

bool CallWindows(const std::string& name, long calls) {
    BusWindows windows("round-trip call");
    const auto target = static_cast<WindowHandle>(std::strtoull(name.c_str(), nullptr, 10));
    long left = calls;
    bool failed = false;
    // One call under way at a time: the five round trips of a message are
    // one chain, each waiting for the one before.
    std::function<void()> next = [&] {
        CopyDataRecord record;
        record.cbData = static_cast<std::uint32_t>(Line.size() + 1);
        record.lpData = Line.data();
        windows.SendToWindow(target, CopyDataMessage, windows.ApplicationWindow(),
                             reinterpret_cast<std::intptr_t>(&record), [&](std::intptr_t result) {
                                 failed = result != 1;
                                 if (failed || --left == 0) {
                                     windows.QuitMessageLoop();
                                 } else {
                                     next();
                                 }
                             });
    };
    next();
    windows.RunMessageLoop();
    return !failed && left == 0;
}

bool CallBare(long calls) {
    const Connection connection = ConnectBare();
    if (!connection) {
        return false;
    }
    const dbus_uint64_t sender = 1;
    const dbus_uint64_t dwData = 0;
    const char* bytes = Line.data();
    const int length = static_cast<int>(Line.size() + 1);
    for (long i = 0; i < calls; ++i) {
        DBusMessage* call =
            dbus_message_new_method_call(BareName, BarePath, BareInterface, "CopyData");
        dbus_message_append_args(call, DBUS_TYPE_UINT64, &sender, DBUS_TYPE_UINT64, &dwData,
                                 DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &bytes, length,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection.get(), call,
                                                                       BareTimeoutMs, nullptr);
        dbus_message_unref(call);
        if (reply == nullptr) {
            return false;
        }
        dbus_message_unref(reply);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "answer-windows") {
        return AnswerAsWindow(argc, argv);
    }
    if (mode == "answer-bare") {
        return AnswerBare();
    }
    const long calls = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
    if ((mode != "windows" && mode != "bare") || calls <= 0) {
        std::cerr << "usage: bus_round_trip windows|bare CALLS\n";
        return 2;
    }
    QCoreApplication application(argc, argv);
    std::string name;
    const std::unique_ptr<QProcess> answer = StartAnswer(argv[1], name);
    if (!answer) {
        std::cerr << "bus_round_trip: the answering end did not start\n";
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool answered = mode == "windows" ? CallWindows(name, calls) : CallBare(calls);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    answer->closeWriteChannel();
    answer->waitForFinished(5000);
    if (!answered) {
        std::cerr << "bus_round_trip: a call got no result\n";
        return 1;
    }
    std::printf("%s: %ld round trips in %.6f s\n", argv[1], calls, took.count());
    return 0;
}
