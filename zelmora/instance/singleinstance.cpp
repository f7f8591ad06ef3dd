#include "instance/singleinstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace zm {

namespace {

constexpr int kRetryMs = 50;

// Waits without holding up whatever the event loop has to do.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A folder of this user's alone in the temporary folder; empty when it cannot be had.
QString privateTempFolder()
{
    QString folder = QDir::tempPath() + QStringLiteral("/zelmora-") + QString::number(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()
        || (st.st_mode & 077) != 0)
        return QString();
    return folder;
}

// An X display as one text for every way of writing it: "[host]:number[.screen]", with the
// local host ("" or "unix") left out and screen 0 written out.
QString x11Display(const QString &display)
{
    static const QRegularExpression form(QStringLiteral(R"(^(.*):(\d+)(?:\.(\d+))?$)"));
    const QRegularExpressionMatch m = form.match(display);
    if (!m.hasMatch())
        return display;
    QString host = m.captured(1);
    if (host == QLatin1String("unix"))
        host.clear();
    const QString screen = m.captured(3).isEmpty() ? QStringLiteral("0") : m.captured(3);
    return host + QLatin1Char(':') + QString::number(m.captured(2).toULongLong()) + QLatin1Char('.')
           + QString::number(screen.toULongLong());
}

// A Wayland display as the path of its socket: a bare name lies in the runtime folder.
QString waylandDisplay(const QString &display)
{
    if (display.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(display);
    return QDir::cleanPath(qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + display);
}

} // namespace

QString SingleInstance::instanceIdentity(const QString &appDir)
{
    QStringList parts;
    const QString x11 = qEnvironmentVariable("DISPLAY");
    if (!x11.isEmpty())
        parts << QStringLiteral("x11=") + x11Display(x11);
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (!wayland.isEmpty())
        parts << QStringLiteral("wayland=") + waylandDisplay(wayland);
    const QString session = qEnvironmentVariable("XDG_SESSION_ID");
    if (!session.isEmpty())
        parts << QStringLiteral("session=") + session;
    const QString canonical = QFileInfo(appDir).canonicalFilePath();
    parts << QStringLiteral("program=") + (canonical.isEmpty() ? QDir::cleanPath(appDir) : canonical);
    return parts.join(QLatin1Char('\n'));
}

QString SingleInstance::instanceName(const QString &appDir)
{
    const QByteArray key = QCryptographicHash::hash(instanceIdentity(appDir).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("zelmora-") + QString::fromLatin1(key.toHex().left(16));
}

SingleInstance::SingleInstance(const QString &folder, const QString &name, QObject *parent)
    : QObject(parent),
      m_lockPath(folder.isEmpty() ? QString()
                                  : folder + QLatin1Char('/')
                                        + (name.isEmpty() ? instanceName(QCoreApplication::applicationDirPath()) : name)
                                        + QStringLiteral(".lock")),
      m_socketPath(m_lockPath.isEmpty() ? QString() : m_lockPath.chopped(5) + QStringLiteral(".socket")),
      m_lock(m_lockPath)
{
    // The lock of a process that has gone is stale, however young.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::runtimeFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? privateTempFolder() : runtime;
}

SingleInstance::Outcome SingleInstance::start(const LaunchRequest &request, int timeoutMs)
{
    if (m_lockPath.isEmpty()) {
        m_listenError = QStringLiteral("no runtime folder");
        return Outcome::First;
    }
    const QDeadlineTimer deadline(timeoutMs);
    const QByteArray message = encodeLaunchRequest(request);
    for (;;) {
        if (m_lock.tryLock(0)) {
            listen();
            return Outcome::First;
        }
        if (m_lock.error() != QLockFile::LockFailedError) {
            // No lock can be had here at all (a folder we may not write to): nobody else can
            // hold one either, so this start goes on alone.
            m_listenError = QStringLiteral("cannot make %1").arg(m_lockPath);
            return Outcome::First;
        }
        bool busy = false;
        const int attempt = int(std::clamp<qint64>(deadline.remainingTime(), 1, 2000));
        if (sendTo(m_socketPath, message, attempt, &busy))
            return Outcome::HandedOver;
        if (deadline.hasExpired())
            return Outcome::NoAnswer;
        pause(int(std::min<qint64>(kRetryMs, deadline.remainingTime())));
    }
}

bool SingleInstance::sendTo(const QString &socketPath, const QByteArray &message, int timeoutMs, bool *busy)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 1))))
            return false;
    }
    QByteArray answer;
    while (!answer.contains('\0')) {
        if (!socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
            return false;
        answer += socket.readAll();
        if (answer.size() > 64)
            return false;
    }
    answer.truncate(answer.indexOf('\0'));
    *busy = answer == kAnswerBusy;
    return answer == kAnswerTaken;
}

bool SingleInstance::listen()
{
    m_server = std::make_unique<QLocalServer>();
    // Only this user may connect.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, this process owns the socket: one that is there was left by a start
    // that ended without removing it.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath)) {
        m_listenError = m_server->errorString();
        return false;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server->nextPendingConnection())
            serve(peer);
    });
    return true;
}

void SingleInstance::serve(QLocalSocket *peer)
{
    auto decoder = std::make_shared<LaunchRequestDecoder>();
    // A peer that says nothing, or too little, does not keep its connection.
    QTimer::singleShot(kPeerTimeoutMs, peer, [peer] { peer->abort(); });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer, decoder] {
        const QByteArray bytes = peer->readAll();
        if (decoder->state() == LaunchRequestDecoder::State::Complete)
            return; // answered already; what follows is ignored
        switch (decoder->feed(bytes)) {
        case LaunchRequestDecoder::State::Incomplete:
            return;
        case LaunchRequestDecoder::State::Invalid:
            std::fprintf(stderr, "zelmora: a request refused: %s\n", qPrintable(decoder->error()));
            peer->abort();
            return;
        case LaunchRequestDecoder::State::Complete:
            break;
        }
        QPointer<QLocalSocket> alive(peer);
        const bool taken = isListening() && onRequest && onRequest(decoder->request());
        if (!alive)
            return;
        peer->write(encodeAnswer(taken ? kAnswerTaken : kAnswerBusy));
        peer->flush(); // the answer is out even if the program ends right after
        peer->disconnectFromServer();
    });
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::stopListening()
{
    // Closing removes the socket; connections under way finish, and are answered "busy".
    if (m_server)
        m_server->close();
}

} // namespace zm
