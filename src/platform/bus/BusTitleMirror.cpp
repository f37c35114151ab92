#include "platform/bus/BusTitleMirror.h"

#include "platform/bus/BusWindowObject.h"

#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QVariant>
#include <algorithm>
#include <limits>

namespace velantro::platform::bus {

namespace {

const QString DaemonService = QStringLiteral("org.freedesktop.DBus");
const QString DaemonPath = QStringLiteral("/org/freedesktop/DBus");
const QString DaemonInterface = QStringLiteral("org.freedesktop.DBus");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString TitleProperty = QStringLiteral("Title");

} // namespace

WindowHandle NumberAfter(const QString& text, QLatin1String prefix) {
    if (!text.startsWith(prefix)) {
        return 0;
    }
    const QStringView digits = QStringView(text).mid(prefix.size());
    if (digits.isEmpty() || digits.size() > 20 || digits.front() == u'0') {
        return 0;
    }
    WindowHandle value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
        const auto digit = static_cast<WindowHandle>(c.unicode() - u'0');
        if (value > (std::numeric_limits<WindowHandle>::max() - digit) / 10) {
            return 0;
        }
        value = value * 10 + digit;
    }
    return value;
}

QDBusPendingCall StartTitleRead(QDBusConnection& bus, WindowHandle window, int timeoutMs) {
    QDBusMessage get =
        QDBusMessage::createMethodCall(QLatin1String(ServicePrefix) + QString::number(window),
                                       QLatin1String(PathPrefix) + QString::number(window),
                                       PropertiesInterface, QStringLiteral("Get"));
    get << QLatin1String(WindowInterface) << TitleProperty;
    get.setAutoStartService(false);
    return bus.asyncCall(get, timeoutMs);
}

std::optional<std::string> TitleOfReply(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        return std::nullopt;
    }
    const QVariant value = reply.arguments().front().value<QDBusVariant>().variant();
    if (value.metaType() != QMetaType::fromType<QString>()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

BusTitleMirror::BusTitleMirror(QDBusConnection bus, LocalTitleFunction localTitle,
                               int readTimeoutMs)
    : Bus(std::move(bus))
    , LocalTitle(std::move(localTitle))
    , ReadTimeoutMs(readTimeoutMs) {}

BusTitleMirror::~BusTitleMirror() {
    Listen(false);
}

bool BusTitleMirror::Listen(bool on) {
    const QString nameOwnerChanged = QStringLiteral("NameOwnerChanged");
    const char* ownerSlot = SLOT(NameOwnerChanged(QString, QString, QString));
    const QString propertiesChanged = QStringLiteral("PropertiesChanged");
    const QStringList ofWindows{QLatin1String(WindowInterface)};
    const char* titleSlot =
        SLOT(PropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage));
    if (!on) {
        Bus.disconnect(DaemonService, DaemonPath, DaemonInterface, nameOwnerChanged, this,
                       ownerSlot);
        Bus.disconnect(QString(), QString(), PropertiesInterface, propertiesChanged, ofWindows,
                       QString(), this, titleSlot);
        return true;
    }
    // Any window may announce, so any sender and any path; the slot checks
    // that the sender owns the window.
    if (!Bus.connect(DaemonService, DaemonPath, DaemonInterface, nameOwnerChanged, this,
                     ownerSlot)) {
        return false;
    }
    if (!Bus.connect(QString(), QString(), PropertiesInterface, propertiesChanged, ofWindows,
                     QString(), this, titleSlot)) {
        Listen(false);
        return false;
    }
    return true;
}

bool BusTitleMirror::Start() {
    if (IsStarted) {
        return true;
    }
    // Listening first: whatever changes while the list is read arrives
    // afterwards and is applied on top of it.
    if (!Listen(true)) {
        return false;
    }
    const QDBusMessage reply =
        Bus.call(QDBusMessage::createMethodCall(DaemonService, DaemonPath, DaemonInterface,
                                                QStringLiteral("ListNames")),
                 QDBus::Block, ReadTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        Listen(false);
        return false;
    }
    IsStarted = true;
    for (const QString& name : reply.arguments().front().toStringList()) {
        if (const WindowHandle window = NumberAfter(name, QLatin1String(ServicePrefix))) {
            Entries.try_emplace(window);
            StartRead(window);
        }
    }
    // The first titles are read together, so stuck programs do not add up.
    for (auto& [window, entry] : Entries) {
        if (entry.Pending) {
            entry.Pending->waitForFinished();
            TakeRead(window, entry.Reads);
        }
    }
    return true;
}

std::vector<WindowHandle> BusTitleMirror::Windows() const {
    std::vector<WindowHandle> windows;
    windows.reserve(Entries.size());
    for (const auto& [window, entry] : Entries) {
        windows.push_back(window);
    }
    return windows;
}

std::optional<std::string> BusTitleMirror::Title(WindowHandle window) {
    const auto found = Entries.find(window);
    if (found == Entries.end()) {
        return std::nullopt;
    }
    if (auto local = LocalTitle(window)) {
        return local;
    }
    Entry& entry = found->second;
    if (!entry.Read && entry.Pending) {
        // A window that has only just appeared: its first read is on its way.
        entry.Pending->waitForFinished();
        TakeRead(window, entry.Reads);
    } else if (!entry.Title && !entry.Pending) {
        // Its program did not answer when it appeared; ask again, for the
        // look-ups after this one.
        StartRead(window);
    }
    return entry.Title;
}

void BusTitleMirror::DropRead(Entry& entry) {
    entry.Pending.reset();
    if (entry.Watcher) {
        // It may be the sender of the signal being handled.
        QObject::disconnect(entry.Watcher.get(), nullptr, this, nullptr);
        entry.Watcher.release()->deleteLater();
    }
}

void BusTitleMirror::StartRead(WindowHandle window) {
    Entry& entry = Entries[window];
    DropRead(entry);
    if (LocalTitle(window)) {
        entry.Read = true; // read directly, never over the bus
        return;
    }
    const unsigned number = ++entry.Reads;
    entry.Pending = StartTitleRead(Bus, window, ReadTimeoutMs);
    entry.Watcher = std::make_unique<QDBusPendingCallWatcher>(*entry.Pending);
    QObject::connect(entry.Watcher.get(), &QDBusPendingCallWatcher::finished, this,
                     [this, window, number] { TakeRead(window, number); });
}

void BusTitleMirror::TakeRead(WindowHandle window, unsigned number) {
    const auto found = Entries.find(window);
    if (found == Entries.end() || found->second.Reads != number || !found->second.Pending) {
        return; // a read of a window since gone, or taken already
    }
    Entry& entry = found->second;
    const QDBusMessage reply = entry.Pending->reply();
    entry.Read = true;
    entry.Title = TitleOfReply(reply);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        entry.Owner = reply.service();
    }
    DropRead(entry);
}

void BusTitleMirror::NameOwnerChanged(const QString& name, const QString& oldOwner,
                                      const QString& newOwner) {
    const WindowHandle window = NumberAfter(name, QLatin1String(ServicePrefix));
    if (window == 0) {
        return;
    }
    if (const auto found = Entries.find(window); found != Entries.end()) {
        DropRead(found->second);
        Entries.erase(found);
    }
    if (newOwner.isEmpty()) {
        return;
    }
    Entry& entry = Entries[window];
    entry.Owner = newOwner;
    StartRead(window);
    Q_UNUSED(oldOwner);
}

void BusTitleMirror::PropertiesChanged(const QString& interface, const QVariantMap& changed,
                                       const QStringList& invalidated,
                                       const QDBusMessage& message) {
    const auto found = Entries.find(NumberAfter(message.path(), QLatin1String(PathPrefix)));
    // Only the window's owner speaks for it.
    if (interface != QLatin1String(WindowInterface) || found == Entries.end() ||
        found->second.Owner.isEmpty() || found->second.Owner != message.service()) {
        return;
    }
    const auto title = changed.find(TitleProperty);
    if (title != changed.end() && title->metaType() == QMetaType::fromType<QString>()) {
        found->second.Title = title->toString().toStdString();
    } else if (invalidated.contains(TitleProperty)) {
        StartRead(found->first);
    }
}

} // namespace velantro::platform::bus
