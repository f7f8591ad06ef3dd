#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zm {

// What a second start of zelmora hands to the window already running.
struct LaunchRequest {
    QStringList paths;       // absolute, in the order given; none: only bring the window up
    QString activationToken; // the desktop's leave to bring a window to the front, if it gave one
    bool operator==(const LaunchRequest &) const = default;
};

// How a request travels over the local socket: UTF-8 records, each ended by a NUL (which no
// path can hold). The first record is kLaunchMagic, then one record per path, then the token
// as "token=<token>" when there is one; an empty record ends the request. The window answers
// with one record: kAnswerTaken, or kAnswerBusy while it is closing (the sender tries again
// and may become the window itself).
inline constexpr char kLaunchMagic[] = "zelmora-open/1";
inline constexpr char kAnswerTaken[] = "ok";
inline constexpr char kAnswerBusy[] = "busy";

// Paths that are empty, relative or hold a NUL are left out.
QByteArray encodeLaunchRequest(const LaunchRequest &request);
// One answer record.
QByteArray encodeAnswer(const char *answer);

// Reads one request as its bytes arrive, in pieces of any size.
class LaunchRequestDecoder final
{
public:
    enum class State { Incomplete, Complete, Invalid };
    // No path is this long; a longer record is not a request.
    static constexpr qsizetype kMaxRecord = qsizetype{64} * 1024;
    // Room for hundreds of thousands of paths; a longer message is not a request.
    static constexpr qsizetype kMaxMessage = qsizetype{64} * 1024 * 1024;

    State feed(const QByteArray &bytes);
    State state() const { return m_state; }
    // Complete only: what was handed over.
    const LaunchRequest &request() const { return m_request; }
    // Invalid only: what was wrong, for the log.
    QString error() const { return m_error; }

private:
    State fail(const QString &why);
    State takeRecord(const QByteArray &record);

    State m_state = State::Incomplete;
    QByteArray m_pending; // the bytes of the record not yet ended
    qsizetype m_total = 0;
    bool m_magicSeen = false;
    LaunchRequest m_request;
    QString m_error;
};

} // namespace zm
