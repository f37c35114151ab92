#pragma once

// The object through which one window receives its messages from the bus.

#include "platform/WindowMessages.h"

#include <QByteArray>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <functional>

namespace velantro::platform::bus {

/// The interface every window implements, and where its object lives: the
/// window with handle N owns the bus name ServicePrefix + N and exports its
/// object at PathPrefix + N.
inline constexpr char WindowInterface[] = "org.velantro.Window";
inline constexpr char ServicePrefix[] = "org.velantro.Window.H";
inline constexpr char PathPrefix[] = "/org/velantro/Window/";

/// Message numbers below this one are the system's own; they may carry
/// addresses in lParam, so only the copy-data message of them travels, by CopyData.
inline constexpr std::uint32_t WM_USER = 0x0400;

/// One window exported on a bus connection. Every message that reaches it is
/// handed to the deliver function, which gives the window's result.
class BusWindowObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velantro.Window")
    Q_PROPERTY(QString Title READ Title)

public:
    using DeliverFunction = std::function<std::intptr_t(WindowMessage&)>;
    using TitleFunction = std::function<QString()>;
    /// Whether the connection with the given unique name owns the window.
    using OwnerCheck = std::function<bool(const QString& connection, WindowHandle window)>;

    BusWindowObject(DeliverFunction deliver, TitleFunction title, OwnerCheck owns);

    QString Title() const;

public Q_SLOTS:
    /// An ordinary message (number 0x400 and above); lParam is a plain number.
    qlonglong Send(uint msg, qulonglong wParam, qlonglong lParam);

    /// A copy-data message: the record's dwData and its cbData bytes. Refused
    /// unless the calling connection owns the window wParam names as sender.
    qlonglong CopyData(qulonglong wParam, qulonglong dwData, const QByteArray& data);

private:
    std::intptr_t DeliverGuarded(WindowMessage& message);

    DeliverFunction Deliver;
    TitleFunction TitleOf;
    OwnerCheck Owns;
};

} // namespace velantro::platform::bus
