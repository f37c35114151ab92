#include "XmppKeyring.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QString>
#include <QTimer>
#include <array>
#include <qt6keychain/keychain.h>
#include <utility>

namespace velantro::standins {

namespace {

constexpr const char* SecretServiceName = "org.freedesktop.secrets";
constexpr const char* DefaultCollection = "/org/freedesktop/secrets/aliases/default";
/// How long the state query may take; a keyring that is starting answers well within it.
constexpr int StateQueryMilliseconds = 5000;

/// Bus errors that mean nobody serves the Secret Service.
bool MeansAbsent(const QString& error) {
    static constexpr std::array names = {
        "org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
        "org.freedesktop.DBus.Error.NoReply",        "org.freedesktop.DBus.Error.Timeout",
        "org.freedesktop.DBus.Error.TimedOut",       "org.freedesktop.DBus.Error.Disconnected",
        "org.freedesktop.DBus.Error.NoServer",
    };
    for (const char* name : names) {
        if (error == QLatin1String(name)) {
            return true;
        }
    }
    // The bus could not start the service it has a file for.
    return error.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

/// Asks the Secret Service whether its default collection is locked.
SecretServiceState QuerySecretService() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return SecretServiceState::Absent;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(SecretServiceName), QLatin1String(DefaultCollection),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusMessage reply = bus.call(call, QDBus::Block, StateQueryMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // A service without a default collection has nothing locked.
        return MeansAbsent(reply.errorName()) ? SecretServiceState::Absent
                                              : SecretServiceState::Unlocked;
    }
    const QVariant locked = reply.arguments().value(0).value<QDBusVariant>().variant();
    return locked.toBool() ? SecretServiceState::Locked : SecretServiceState::Unlocked;
}

/// Runs a job and calls done from the event loop, outside qtkeychain's own
/// callback, with what it found. The job belongs to the application and
/// deletes itself once finished.
void Run(QKeychain::Job* job, std::function<void(KeyringAnswer)> done) {
    QObject::connect(
        job, &QKeychain::Job::finished, [done = std::move(done)](QKeychain::Job* finished) {
            KeyringAnswer answer;
            const QKeychain::Error error = finished->error();
            if (error != QKeychain::NoError) {
                answer.Detail = finished->errorString().toStdString();
            } else if (const auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished)) {
                answer.Password = read->textData().toStdString();
            }
            QTimer::singleShot(0, QCoreApplication::instance(),
                               [error, answer = std::move(answer), done]() mutable {
                                   if (error != QKeychain::NoError) {
                                       answer.Outcome =
                                           ClassifyKeyringError(error, QuerySecretService());
                                   }
                                   done(std::move(answer));
                               });
        });
    job->start();
}

} // namespace

KeyringOutcome ClassifyKeyringError(int keychainError, SecretServiceState state) {
    switch (keychainError) {
    case QKeychain::NoError:
        return KeyringOutcome::Done;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return KeyringOutcome::Locked;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        return KeyringOutcome::Unavailable;
    default:
        break;
    }
    // A lookup in a locked keyring that stays locked finds nothing, and
    // libsecret's bus errors are "other errors": the service's state tells.
    if (state == SecretServiceState::Locked) {
        return KeyringOutcome::Locked;
    }
    if (keychainError == QKeychain::EntryNotFound) {
        return KeyringOutcome::NotFound;
    }
    return state == SecretServiceState::Absent ? KeyringOutcome::Unavailable
                                               : KeyringOutcome::Failed;
}

std::string DescribeKeyringProblem(const KeyringAnswer& answer, std::string_view jid,
                                   bool storing) {
    const std::string account(jid);
    const std::string what = storing ? "stored" : "read";
    const std::string otherwise =
        "; or give the password with --xmpp-password-file FILE or SKYPE_PEER_XMPP_PASSWORD";
    switch (answer.Outcome) {
    case KeyringOutcome::Done:
        return {};
    case KeyringOutcome::NotFound:
        return "no password for " + account +
               ": the desktop's keyring has none, and neither --xmpp-password-file nor "
               "SKYPE_PEER_XMPP_PASSWORD gives one; store it with: skype-peer --xmpp " +
               account + " --remember-password";
    case KeyringOutcome::Locked:
        return "the desktop's keyring is locked, so the password of " + account + " cannot be " +
               what +
               ": unlock it (log in to the desktop, or unlock the \"Login\" keyring in "
               "Passwords and Keys) and start skype-peer again" +
               (storing ? "" : otherwise);
    case KeyringOutcome::Unavailable:
        return "no desktop keyring (Secret Service) answers on the session bus, so the "
               "password of " +
               account + " cannot be " + what +
               ": start one (gnome-keyring, or KeePassXC with its Secret Service on) and try "
               "again" +
               (storing ? "" : otherwise);
    case KeyringOutcome::Failed:
        break;
    }
    return "the desktop's keyring could not " + std::string(storing ? "store" : "read") +
           " the password of " + account + ": " + answer.Detail;
}

void LookUpKeyringPassword(const std::string& jid, std::function<void(KeyringAnswer)> done) {
    auto* job = new QKeychain::ReadPasswordJob(
        QString::fromUtf8(KeyringService.data(), KeyringService.size()),
        QCoreApplication::instance());
    job->setKey(QString::fromStdString(jid));
    Run(job, [done = std::move(done)](KeyringAnswer answer) {
        // An empty entry gives no password either.
        if (answer.Outcome == KeyringOutcome::Done && answer.Password.empty()) {
            answer.Outcome = KeyringOutcome::NotFound;
        }
        done(std::move(answer));
    });
}

void StoreKeyringPassword(const std::string& jid, const std::string& password,
                          std::function<void(KeyringAnswer)> done) {
    auto* job = new QKeychain::WritePasswordJob(
        QString::fromUtf8(KeyringService.data(), KeyringService.size()),
        QCoreApplication::instance());
    job->setKey(QString::fromStdString(jid));
    job->setTextData(QString::fromStdString(password));
    Run(job, std::move(done));
}

} // namespace velantro::standins
