#include "platform/bus/BusWindowObject.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QtGlobal>
#include <exception>
#include <limits>
#include <utility>

namespace velantro::platform::bus {

std::intptr_t BusWindowObject::DeliverGuarded(WindowMessage& message) {
    // An exception must not unwind through Qt's event dispatch; the sender
    // sees the message as not handled and this program carries on.
    try {
        return Deliver(message);
    } catch (const std::exception& error) {
        qWarning("Error while handling window message %u: %s", message.Msg, error.what());
        sendErrorReply(QDBusError::Failed, QString::fromUtf8(error.what()));
    } catch (...) {
        qWarning("Unknown error while handling window message %u", message.Msg);
        sendErrorReply(QDBusError::Failed, QStringLiteral("Unknown error"));
    }
    return 0;
}

BusWindowObject::BusWindowObject(DeliverFunction deliver, TitleFunction title, OwnerCheck owns)
    : Deliver(std::move(deliver))
    , TitleOf(std::move(title))
    , Owns(std::move(owns)) {}

QString BusWindowObject::Title() const {
    return TitleOf();
}

qlonglong BusWindowObject::Send(uint msg, qulonglong wParam, qlonglong lParam) {
    if (msg < WM_USER) {
        // lParam of a system message may be an address in the sender's
        // memory; it must never be read here.
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Message %1 is below 0x400 and cannot be sent; "
                                      "copy-data goes through CopyData")
                           .arg(msg));
        return 0;
    }
    WindowMessage message;
    message.Msg = msg;
    message.WParam = static_cast<std::uintptr_t>(wParam);
    message.LParam = static_cast<std::intptr_t>(lParam);
    return DeliverGuarded(message);
}

qlonglong BusWindowObject::CopyData(qulonglong wParam, qulonglong dwData, const QByteArray& data) {
    if (static_cast<unsigned long long>(data.size()) > std::numeric_limits<std::uint32_t>::max()) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("Copy-data block too large"));
        return 0;
    }
    // The receiver answers the window in wParam; only that window's own
    // connection may speak for it. The daemon names the real sender.
    if (!Owns(message().service(), static_cast<WindowHandle>(wParam))) {
        sendErrorReply(QDBusError::AccessDenied,
                       QStringLiteral("Copy-data names window %1 as its sender, which the "
                                      "calling connection %2 does not own")
                           .arg(wParam)
                           .arg(message().service()));
        return 0;
    }
    CopyDataRecord record;
    record.dwData = static_cast<std::uintptr_t>(dwData);
    record.cbData = static_cast<std::uint32_t>(data.size());
    record.lpData = data.constData();
    WindowMessage message;
    message.Msg = CopyDataMessage;
    message.WParam = static_cast<std::uintptr_t>(wParam);
    message.LParam = reinterpret_cast<std::intptr_t>(&record);
    return DeliverGuarded(message);
}

} // namespace velantro::platform::bus
