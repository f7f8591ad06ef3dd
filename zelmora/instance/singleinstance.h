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

// One zelmora per user. The first start holds a lock file in the user's runtime folder and
// listens on a local socket beside it; a later start hands its files to it over that socket
// and ends. The lock decides who is first: whoever holds it owns the socket, so a socket left
// by a crashed start is simply replaced, and a start that finds the lock held waits for the
// socket to answer (the first may still be starting, or closing).
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // A start that gets no answer within this time gives up.
    static constexpr int kHandOverTimeoutMs = 10000;
    // A peer that connects and does not finish its request within this time is dropped.
    static constexpr int kPeerTimeoutMs = 10000;

    // `folder`: where the lock and the socket live (runtimeFolder() by default).
    explicit SingleInstance(const QString &folder = runtimeFolder(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR (Qt's stand-in for it when unset), or the temporary folder.
    static QString runtimeFolder();
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
