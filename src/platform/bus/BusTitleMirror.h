#pragma once

// The windows on the bus and their titles, kept current by the bus's own
// signals, so that looking for a window costs no round trip.

#include "platform/WindowMessages.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QDBusPendingCallWatcher;

namespace velantro::platform::bus {

/// The decimal number that ends text after prefix; 0 unless the rest is one
/// to twenty digits without a leading zero that fit a handle.
WindowHandle NumberAfter(const QString& text, QLatin1String prefix);

/// Starts reading the Title property of the window with that handle.
QDBusPendingCall StartTitleRead(QDBusConnection& bus, WindowHandle window, int timeoutMs);

/// The title in the finished reply to a title read; nothing for an error.
std::optional<std::string> TitleOfReply(const QDBusMessage& reply);

/// Follows the windows of a bus: the daemon's NameOwnerChanged says when a
/// window's name appears (its title is read once then) or goes, and every
/// window announces its new titles with org.freedesktop.DBus.Properties'
/// PropertiesChanged. A window that never announces keeps the title it had
/// when it appeared; a stuck program keeps the title it last showed.
///
/// Used from the thread that created it; the signals arrive through that
/// thread's event loop, so the mirror is as current as the last message
/// this thread has taken in.
class BusTitleMirror : public QObject {
    Q_OBJECT

public:
    /// The title of a window of this process, which is read without the
    /// bus; nothing for any other window.
    using LocalTitleFunction = std::function<std::optional<std::string>(WindowHandle)>;

    BusTitleMirror(QDBusConnection bus, LocalTitleFunction localTitle, int readTimeoutMs);
    ~BusTitleMirror() override;
    BusTitleMirror(const BusTitleMirror&) = delete;
    BusTitleMirror& operator=(const BusTitleMirror&) = delete;

    /// Starts following the bus: listens for the signals, lists the windows
    /// and reads their titles, all at once within one time limit. False
    /// when the bus cannot be listened to or listed; it can be tried again.
    bool Start();
    bool Started() const { return IsStarted; }

    /// The windows on the bus, in ascending order of handles.
    std::vector<WindowHandle> Windows() const;
    bool Knows(WindowHandle window) const { return Entries.contains(window); }

    /// The window's title; nothing when the window is unknown or its title
    /// could not be read. Waits only for the first read of a window that
    /// has just appeared, at most until that read's time limit.
    std::optional<std::string> Title(WindowHandle window);

private Q_SLOTS:
    void NameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void PropertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated, const QDBusMessage& message);

private:
    struct Entry {
        /// The unique name of the connection that owns the window's name;
        /// empty until the first read tells it.
        QString Owner;
        std::optional<std::string> Title;
        /// False until the first read has finished.
        bool Read = false;
        /// How many reads were started; tells the current one.
        unsigned Reads = 0;
        std::optional<QDBusPendingCall> Pending;
        std::unique_ptr<QDBusPendingCallWatcher> Watcher;
    };

    /// Listens for the signals, or stops; false when it cannot listen.
    bool Listen(bool on);
    /// Starts reading a window's title; the answer lands in its entry.
    void StartRead(WindowHandle window);
    /// Takes the finished read with that number into the window's entry.
    void TakeRead(WindowHandle window, unsigned number);
    /// Forgets the read in progress.
    void DropRead(Entry& entry);

    QDBusConnection Bus;
    LocalTitleFunction LocalTitle;
    int ReadTimeoutMs;
    bool IsStarted = false;
    std::map<WindowHandle, Entry> Entries;
};

} // namespace velantro::platform::bus
