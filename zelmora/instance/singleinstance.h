#pragma once
#include "launch/launchrequest.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace zm {

// One zelmora per user, display and login session, and per copy of the program. The first
// start holds a lock file in the user's runtime folder and listens on a local socket beside it;
// a later start hands its files to it over that socket and ends. Both are named after what the
// start belongs to (instanceName()), so a start on another display (another screen, a nested
// or remote one), in another login session, or of a copy in another folder (a portable copy
// beside the installed one) finds no window it cannot see and opens its own. The lock decides
// who is first: whoever holds it owns the socket, so a socket left by a crashed start is simply
// replaced, and a start that finds the lock held waits for the socket to answer (the first may
// still be starting, or closing).
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // A start that gets no answer within this time gives up.
    static constexpr int kHandOverTimeoutMs = 10000;
    // A peer that connects and does not finish its request within this time is dropped.
    static constexpr int kPeerTimeoutMs = 10000;

    // `folder`: where the lock and the socket live (runtimeFolder() by default); `name`: what
    // they are called, before ".lock" and ".socket" (instanceName() of this program's folder).
    explicit SingleInstance(const QString &folder = runtimeFolder(), const QString &name = QString(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR (Qt's stand-in for it when unset), or the temporary folder.
    static QString runtimeFolder();
    // "zelmora-" and a key of the displays this process shows its windows on ($DISPLAY, with
    // ":0" and "unix:0.0" alike; $WAYLAND_DISPLAY, as the path of its socket), of the login
    // session the desktop names ($XDG_SESSION_ID), and of the folder of the program `appDir`.
    // Starts that agree in all of them share one window.
    static QString instanceName(const QString &appDir);
    // The parts of that key, as text: one "what=value" line each.
    static QString instanceIdentity(const QString &appDir);
    QString socketPath() const { return m_socketPath; }

    enum class Outcome {
        First,      // this process is the one: it holds the lock and listens
        HandedOver, // the running one took `request`
        NoAnswer,   // the lock is held but nobody answered in time
    };
    // Becomes the first (taking the lock and listening) or hands `request` to the first.
    Outcome start(const LaunchRequest &request, int timeoutMs = kHandOverTimeoutMs);

    // Called on every request that arrives while listening; true takes it, false answers
    // "busy" (the window is closing) so that the sender tries again.
    std::function<bool(const LaunchRequest &)> onRequest;

    bool isListening() const;
    // Stops taking requests (the socket goes); the lock stays until this object goes.
    void stopListening();
    // Why listening failed, when it did.
    QString listenError() const { return m_listenError; }

private:
    bool listen();
    void serve(QLocalSocket *peer);
    static bool sendTo(const QString &socketPath, const QByteArray &message, int timeoutMs, bool *busy);

    QString m_lockPath, m_socketPath;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
    QString m_listenError;
};

} // namespace zm
