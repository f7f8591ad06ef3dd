#include "launch/launchrequest.h"

#include <QStringDecoder>

namespace zm {

namespace {
const QByteArray kTokenKey = QByteArrayLiteral("token=");
}

QByteArray encodeLaunchRequest(const LaunchRequest &request)
{
    QByteArray out = QByteArray(kLaunchMagic) + '\0';
    for (const QString &path : request.paths) {
        if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
            continue;
        out += path.toUtf8() + '\0';
    }
    if (!request.activationToken.isEmpty() && !request.activationToken.contains(QChar(0)))
        out += kTokenKey + request.activationToken.toUtf8() + '\0';
    out += '\0';
    return out;
}

QByteArray encodeAnswer(const char *answer)
{
    return QByteArray(answer) + '\0';
}

LaunchRequestDecoder::State LaunchRequestDecoder::fail(const QString &why)
{
    m_state = State::Invalid;
    m_error = why;
    m_pending.clear();
    return m_state;
}

LaunchRequestDecoder::State LaunchRequestDecoder::feed(const QByteArray &bytes)
{
    if (m_state == State::Invalid)
        return m_state;
    if (m_state == State::Complete)
        return bytes.isEmpty() ? m_state : fail(QStringLiteral("data after the end of the request"));
    m_total += bytes.size();
    if (m_total > kMaxMessage)
        return fail(QStringLiteral("request longer than %1 bytes").arg(kMaxMessage));
    qsizetype from = 0;
    while (m_state == State::Incomplete) {
        const qsizetype end = bytes.indexOf('\0', from);
        if (end < 0) {
            m_pending += bytes.mid(from);
            if (m_pending.size() > kMaxRecord)
                return fail(QStringLiteral("record longer than %1 bytes").arg(kMaxRecord));
            return m_state;
        }
        QByteArray record = m_pending + bytes.mid(from, end - from);
        m_pending.clear();
        from = end + 1;
        if (record.size() > kMaxRecord)
            return fail(QStringLiteral("record longer than %1 bytes").arg(kMaxRecord));
        takeRecord(record);
    }
    if (m_state == State::Complete && from < bytes.size())
        return fail(QStringLiteral("data after the end of the request"));
    return m_state;
}

LaunchRequestDecoder::State LaunchRequestDecoder::takeRecord(const QByteArray &record)
{
    if (!m_magicSeen) {
        if (record != kLaunchMagic)
            return fail(QStringLiteral("not a zelmora request"));
        m_magicSeen = true;
        return m_state;
    }
    if (record.isEmpty()) {
        m_state = State::Complete;
        return m_state;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(record);
    if (utf8.hasError())
        return fail(QStringLiteral("a record that is not UTF-8"));
    if (record.startsWith('/')) {
        m_request.paths << text;
    } else if (record.startsWith(kTokenKey)) {
        m_request.activationToken = text.mid(kTokenKey.size());
    } else {
        return fail(QStringLiteral("a path that is not absolute"));
    }
    return m_state;
}

} // namespace zm
