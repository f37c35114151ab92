#include "platform/bus/BusWindows.h"

#include "common/AsciiText.h"
#include "platform/bus/BusTitleMirror.h"
#include "platform/bus/BusWindowObject.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace velantro::platform {

using bus::BusTitleMirror;
using bus::BusWindowObject;
using bus::NumberAfter;

namespace {

// Title reads and questions to the bus daemon: a window answers these at
// once unless its program is stuck. The titles of an enumeration are read
// all at once, so any number of stuck programs costs this once.
constexpr int QueryTimeoutMs = 2000;
// A broadcast's calls go to every window at once and their answers are not
// read; this bounds how long the connection keeps a stuck program's call open.
constexpr int BroadcastTimeoutMs = 5000;
constexpr int DefaultSendTimeoutMs = 25000;
// How many window names are tried before giving up on joining the bus.
constexpr int MaxHandleTries = 1000;

constexpr std::uint32_t RequestNameDoNotQueue = 4;
constexpr std::uint32_t RequestNamePrimaryOwner = 1;

const QString DaemonService = QStringLiteral("org.freedesktop.DBus");
const QString DaemonPath = QStringLiteral("/org/freedesktop/DBus");
const QString DaemonInterface = QStringLiteral("org.freedesktop.DBus");

// The windows of this process by handle. A window that lives in the calling
// thread could only answer a title read once that thread's event loop runs,
// so titles of this process's windows are read here directly. Also guards
// every window's title.
std::mutex RegistryMutex;
std::map<WindowHandle, BusWindows::Impl*> Registry;

std::atomic<unsigned> ConnectionCounter{0};

QString ServiceName(WindowHandle window) {
    return QLatin1String(bus::ServicePrefix) + QString::number(window);
}

QString ObjectPath(WindowHandle window) {
    return QLatin1String(bus::PathPrefix) + QString::number(window);
}

QDBusMessage DaemonCall(const QString& method) {
    return QDBusMessage::createMethodCall(DaemonService, DaemonPath, DaemonInterface, method);
}

/// A window's result from the reply to Send or CopyData; 0 for an error.
std::intptr_t ResultOf(const QDBusPendingCall& call) {
    const QDBusMessage reply = call.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("x")) {
        return 0;
    }
    return static_cast<std::intptr_t>(reply.arguments().front().toLongLong());
}

} // namespace

std::uint32_t BusMessageId(std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    std::uint32_t hash = 2166136261u;
    for (const char c : name) {
        const auto byte = common::ToLowerAscii(static_cast<unsigned char>(c));
        hash = (hash ^ byte) * 16777619u;
    }
    return 0xC000u + hash % 0x4000u;
}

struct BusWindows::Impl {
    QString ConnectionName;
    QDBusConnection Bus{QString()};
    WindowHandle Handle = 0;
    std::string Title; // guarded by RegistryMutex
    WindowHook Hook;
    std::unique_ptr<BusWindowObject> Object;
    std::string Error;
    int SendTimeoutMs = DefaultSendTimeoutMs;
    // The windows on the bus and their titles, followed from the first
    // enumeration on.
    std::unique_ptr<BusTitleMirror> Mirror;
    // Who owns the windows that copy-data named as its sender, kept while the
    // daemon reports no change of owner, so that a burst of lines costs one
    // question to the daemon.
    std::unique_ptr<QDBusServiceWatcher> OwnerWatcher;
    std::map<QString, QString> KnownOwners;
    // What this instance leaves for the event loop (deliveries to its own
    // window, results of sends, work) runs in this object's name, so none of
    // it runs once the instance is gone. Last, so that it goes first.
    std::unique_ptr<QObject> Context = std::make_unique<QObject>();

    bool Connected() const { return Handle != 0; }

    /// The application window's processing of one message: the hook, and a
    /// result of 0 when the hook lets it pass.
    std::intptr_t Deliver(WindowMessage& message) {
        if (!Hook) {
            return 0;
        }
        // The hook may remove or replace itself while it runs.
        const WindowHook hook = Hook;
        return hook(message) ? message.Result : 0;
    }

    /// Deliver() from the event loop, where an error of the hook must not
    /// unwind through Qt's event dispatch: it is reported, and the message
    /// counts as not handled, as it does for a window of another program.
    std::intptr_t DeliverContained(WindowMessage& message) {
        try {
            return Deliver(message);
        } catch (const std::exception& error) {
            qWarning("Error while handling window message %u: %s", message.Msg, error.what());
        } catch (...) {
            qWarning("Unknown error while handling window message %u", message.Msg);
        }
        return 0;
    }

    /// Gives done the result from the event loop, never inside the caller's call.
    void Answer(SendDone done, std::intptr_t result) {
        if (done) {
            QTimer::singleShot(0, Context.get(),
                               [done = std::move(done), result] { done(result); });
        }
    }

    /// Delivers a message to this connection's own window from the event
    /// loop, as a send from another program would arrive; a copy-data
    /// record's bytes are copied now.
    void DeliverLater(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                      SendDone done) {
        std::optional<QByteArray> bytes;
        std::uintptr_t dwData = 0;
        if (msg == CopyDataMessage) {
            const auto* record = reinterpret_cast<const CopyDataRecord*>(lParam);
            if (record == nullptr || (record->cbData > 0 && record->lpData == nullptr)) {
                Answer(std::move(done), 0);
                return;
            }
            bytes = QByteArray(static_cast<const char*>(record->lpData),
                               static_cast<qsizetype>(record->cbData));
            dwData = record->dwData;
        }
        QTimer::singleShot(
            0, Context.get(),
            [this, msg, wParam, lParam, dwData, bytes = std::move(bytes), done = std::move(done)] {
                CopyDataRecord record;
                WindowMessage message{msg, wParam, lParam, 0};
                if (bytes) {
                    record.dwData = dwData;
                    record.cbData = static_cast<std::uint32_t>(bytes->size());
                    record.lpData = bytes->constData();
                    message.LParam = reinterpret_cast<std::intptr_t>(&record);
                }
                const std::intptr_t result = DeliverContained(message);
                if (done) {
                    done(result);
                }
            });
    }

    /// Whether the connection with the unique name caller owns window.
    bool CallerOwns(const QString& caller, WindowHandle window) {
        if (window == 0 || caller.isEmpty()) {
            return false;
        }
        const QString name = ServiceName(window);
        if (const auto known = KnownOwners.find(name); known != KnownOwners.end()) {
            return known->second == caller;
        }
        // Watched before asking, so that no change of owner after the answer
        // goes unseen; a handful of windows ever speak to one program.
        constexpr std::size_t MaxKnownOwners = 64;
        if (KnownOwners.size() >= MaxKnownOwners) {
            ForgetOwners();
        }
        OwnerWatcher->addWatchedService(name);
        QDBusMessage ask = DaemonCall(QStringLiteral("GetNameOwner"));
        ask << name;
        const QDBusMessage reply = Bus.call(ask, QDBus::Block, QueryTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
            OwnerWatcher->removeWatchedService(name);
            return false;
        }
        const QString owner = reply.arguments().front().toString();
        KnownOwners[name] = owner;
        return owner == caller;
    }

    void ForgetOwners() {
        KnownOwners.clear();
        OwnerWatcher->setWatchedServices({});
    }

    QString CurrentTitle() {
        const std::lock_guard lock(RegistryMutex);
        return QString::fromUtf8(Title.data(), static_cast<qsizetype>(Title.size()));
    }

    /// Claims the bus name of a window handle, trying the number of this
    /// connection's unique name (42 for ":1.42") first, then the next ones.
    void ClaimHandle() {
        WindowHandle candidate = NumberAfter(Bus.baseService(), QLatin1String(":1."));
        for (int attempt = 0; attempt < MaxHandleTries; ++attempt, ++candidate) {
            if (candidate == 0) {
                candidate = 1;
            }
            // The object goes up first so that a peer that sees the name can
            // already reach the window.
            if (!Bus.registerObject(ObjectPath(candidate), Object.get(),
                                    QDBusConnection::ExportAllSlots |
                                        QDBusConnection::ExportAllProperties)) {
                continue;
            }
            QDBusMessage request = DaemonCall(QStringLiteral("RequestName"));
            request << ServiceName(candidate) << RequestNameDoNotQueue;
            const QDBusMessage reply = Bus.call(request, QDBus::Block, QueryTimeoutMs);
            if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1 &&
                reply.arguments().front().toUInt() == RequestNamePrimaryOwner) {
                Handle = candidate;
                return;
            }
            Bus.unregisterObject(ObjectPath(candidate));
            if (reply.type() != QDBusMessage::ReplyMessage) {
                Error = "Cannot claim a window name on the D-Bus session bus: " +
                        reply.errorMessage().toStdString();
                return;
            }
        }
        Error = "Cannot claim a window name on the D-Bus session bus: every name tried is taken";
    }

    /// Every window on the bus, in ascending order of handles.
    bool ListWindows(std::vector<WindowHandle>& windows) {
        if (!Connected()) {
            return false;
        }
        const QDBusMessage reply =
            Bus.call(DaemonCall(QStringLiteral("ListNames")), QDBus::Block, QueryTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
            return false;
        }
        for (const QString& name : reply.arguments().front().toStringList()) {
            if (const WindowHandle window = NumberAfter(name, QLatin1String(bus::ServicePrefix))) {
                windows.push_back(window);
            }
        }
        std::sort(windows.begin(), windows.end());
        windows.erase(std::unique(windows.begin(), windows.end()), windows.end());
        return true;
    }

    /// Starts one message to a window of another connection, whose reply
    /// comes within timeoutMs; nothing when it cannot be sent at all.
    std::optional<QDBusPendingCall> StartSend(WindowHandle window, std::uint32_t msg,
                                              std::uintptr_t wParam, std::intptr_t lParam,
                                              int timeoutMs) {
        if (!Connected()) {
            return std::nullopt;
        }
        QDBusMessage call;
        if (msg == CopyDataMessage) {
            const auto* record = reinterpret_cast<const CopyDataRecord*>(lParam);
            if (record == nullptr || (record->cbData > 0 && record->lpData == nullptr)) {
                return std::nullopt;
            }
            call = QDBusMessage::createMethodCall(ServiceName(window), ObjectPath(window),
                                                  QLatin1String(bus::WindowInterface),
                                                  QStringLiteral("CopyData"));
            call << qulonglong{wParam} << qulonglong{record->dwData}
                 << QByteArray(static_cast<const char*>(record->lpData),
                               static_cast<qsizetype>(record->cbData));
        } else if (msg < bus::WM_USER) {
            // The system's own messages may carry addresses that mean
            // nothing in another process.
            return std::nullopt;
        } else {
            call = QDBusMessage::createMethodCall(ServiceName(window), ObjectPath(window),
                                                  QLatin1String(bus::WindowInterface),
                                                  QStringLiteral("Send"));
            call << uint{msg} << qulonglong{wParam} << qlonglong{lParam};
        }
        // A window that is gone must not start anything; the send just fails.
        call.setAutoStartService(false);
        return Bus.asyncCall(call, timeoutMs);
    }

    /// The title of a window of this process, read directly: its thread
    /// could answer a read over the bus only from its event loop.
    static std::optional<std::string> LocalTitle(WindowHandle window) {
        const std::lock_guard lock(RegistryMutex);
        if (const auto found = Registry.find(window); found != Registry.end()) {
            return found->second->Title;
        }
        return std::nullopt;
    }

    /// The title of any window on the bus; nothing when it cannot be read.
    std::optional<std::string> ReadTitle(WindowHandle window) {
        if (window == 0) {
            return std::nullopt;
        }
        if (auto title = LocalTitle(window)) {
            return title;
        }
        if (Mirror && Mirror->Knows(window)) {
            return Mirror->Title(window);
        }
        // A window the mirror has not heard of yet, or no mirror.
        if (!Connected()) {
            return std::nullopt;
        }
        QDBusPendingCall read = bus::StartTitleRead(Bus, window, QueryTimeoutMs);
        read.waitForFinished();
        return bus::TitleOfReply(read.reply());
    }
};

BusWindows::BusWindows(const std::string& title)
    : d(std::make_unique<Impl>()) {
    d->Title = title;
    if (QCoreApplication::instance() == nullptr) {
        d->Error = "The bus windows need a QCoreApplication";
        return;
    }
    d->ConnectionName = QStringLiteral("velantro-bus-windows-%1").arg(++ConnectionCounter);
    d->Bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, d->ConnectionName);
    if (!d->Bus.isConnected()) {
        d->Error = "Cannot connect to the D-Bus session bus: " +
                   d->Bus.lastError().message().toStdString();
        QDBusConnection::disconnectFromBus(d->ConnectionName);
        return;
    }
    Impl* impl = d.get();
    d->OwnerWatcher = std::make_unique<QDBusServiceWatcher>(
        QString(), d->Bus, QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(d->OwnerWatcher.get(), &QDBusServiceWatcher::serviceOwnerChanged,
                     d->OwnerWatcher.get(),
                     [impl](const QString& name) { impl->KnownOwners.erase(name); });
    d->Object = std::make_unique<BusWindowObject>(
        [impl](WindowMessage& message) { return impl->Deliver(message); },
        [impl] { return impl->CurrentTitle(); },
        [impl](const QString& caller, WindowHandle window) {
            return impl->CallerOwns(caller, window);
        });
    d->ClaimHandle();
    if (!d->Connected()) {
        d->Object.reset();
        d->OwnerWatcher.reset();
        QDBusConnection::disconnectFromBus(d->ConnectionName);
        return;
    }
    const std::lock_guard lock(RegistryMutex);
    Registry[d->Handle] = impl;
}

BusWindows::~BusWindows() {
    // Nothing left for the event loop reaches a caller now, not even the
    // failures of sends under way when the connection closes below.
    d->Context.reset();
    d->Mirror.reset(); // stops listening while the connection is still there
    if (d->Connected()) {
        {
            const std::lock_guard lock(RegistryMutex);
            Registry.erase(d->Handle);
        }
        d->Bus.unregisterObject(ObjectPath(d->Handle));
        d->OwnerWatcher.reset();
        d->Bus = QDBusConnection(QString());
        // Closing the connection releases the window's name, so senders that
        // still hold the handle fail at once.
        QDBusConnection::disconnectFromBus(d->ConnectionName);
    }
}

void BusWindows::SetTitle(const std::string& title) {
    {
        const std::lock_guard lock(RegistryMutex);
        d->Title = title;
    }
    if (d->Connected()) {
        QDBusMessage changed = QDBusMessage::createSignal(
            ObjectPath(d->Handle), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        changed << QLatin1String(bus::WindowInterface)
                << QVariantMap{{QStringLiteral("Title"), d->CurrentTitle()}} << QStringList();
        d->Bus.send(changed);
    }
}

bool BusWindows::Connected() const {
    return d->Connected() && d->Bus.isConnected();
}

std::string BusWindows::ErrorText() const {
    return d->Error;
}

void BusWindows::RunMessageLoop() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::exec();
    }
}

void BusWindows::QuitMessageLoop() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(application, &QCoreApplication::quit, Qt::QueuedConnection);
    }
}

void BusWindows::SetSendTimeout(std::chrono::milliseconds timeout) {
    d->SendTimeoutMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
        timeout.count(), 1, std::numeric_limits<int>::max()));
}

std::uint32_t BusWindows::RegisterMessageName(const std::string& name) {
    return d->Connected() ? BusMessageId(name) : 0;
}

std::intptr_t BusWindows::Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
    std::vector<WindowHandle> windows;
    if (!d->ListWindows(windows)) {
        return 0;
    }
    for (const WindowHandle window : windows) {
        if (window == d->Handle) {
            d->DeliverLater(msg, wParam, lParam, {});
        } else {
            // Every window gets it at once; no answer is awaited, so a stuck
            // program holds up nobody.
            d->StartSend(window, msg, wParam, lParam, BroadcastTimeoutMs);
        }
    }
    return 1;
}

void BusWindows::SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                              std::intptr_t lParam, SendDone done) {
    if (window == 0 || !d->Connected()) {
        d->Answer(std::move(done), 0);
        return;
    }
    if (window == d->Handle) {
        // A window of this connection gets it from the event loop, as any other.
        d->DeliverLater(msg, wParam, lParam, std::move(done));
        return;
    }
    const auto call = d->StartSend(window, msg, wParam, lParam, d->SendTimeoutMs);
    if (!call) {
        d->Answer(std::move(done), 0);
        return;
    }
    if (!done) {
        return;
    }
    // A watcher reports even a call that has already finished from the event
    // loop, never from here.
    auto* watcher = new QDBusPendingCallWatcher(*call, d->Context.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         done(ResultOf(*watcher));
                     });
}

void BusWindows::RunAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    if (QCoreApplication::instance() != nullptr) {
        QTimer::singleShot(std::max(delay, std::chrono::milliseconds(0)), Qt::PreciseTimer,
                           d->Context.get(), std::move(work));
    }
}

WindowHandle BusWindows::ApplicationWindow() {
    return d->Handle;
}

void BusWindows::HookMainWindow(WindowHook hook) {
    d->Hook = std::move(hook);
}

void BusWindows::UnhookMainWindow() {
    d->Hook = nullptr;
}

bool BusWindows::EnumerateWindows(const std::function<bool(WindowHandle)>& visit) {
    if (!d->Connected()) {
        return false;
    }
    // The first enumeration lists the windows and reads their titles; from
    // then on the bus's signals keep both current, and an enumeration and
    // the title reads after it cost no round trip.
    if (!d->Mirror) {
        d->Mirror = std::make_unique<BusTitleMirror>(d->Bus, &Impl::LocalTitle, QueryTimeoutMs);
    }
    if (!d->Mirror->Start()) {
        return false;
    }
    for (const WindowHandle window : d->Mirror->Windows()) {
        if (!visit(window)) {
            break;
        }
    }
    return true;
}

int BusWindows::ReadWindowTitle(WindowHandle window, char* buffer, int maxCount) {
    if (buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    const std::optional<std::string> title = d->ReadTitle(window);
    if (!title) {
        buffer[0] = '\0';
        return 0;
    }
    const std::size_t count = std::min(title->size(), static_cast<std::size_t>(maxCount - 1));
    std::memcpy(buffer, title->data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

} // namespace velantro::platform
