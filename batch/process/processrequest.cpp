#include "process/processrequest.h"

#include <cstring>

namespace batch {

QString ProcessOutcome::describe() const
{
    switch (ending) {
    case Ending::NotStarted:
        return QStringLiteral("not started");
    case Ending::FailedToStart:
        return QStringLiteral("could not be started: ") + QString::fromLocal8Bit(std::strerror(startError));
    case Ending::Exited:
        return QStringLiteral("exit code %1").arg(exitCode);
    case Ending::Signalled:
        return killedAfterGrace ? QStringLiteral("signal %1 (after the grace time)").arg(signal)
                                : QStringLiteral("signal %1").arg(signal);
    }
    return QString();
}

QString lastLineOf(const QString &text)
{
    qsizetype end = text.size();
    while (end > 0) {
        qsizetype from = end;
        while (from > 0 && text.at(from - 1) != QLatin1Char('\n') && text.at(from - 1) != QLatin1Char('\r'))
            --from;
        QString line = text.mid(from, end - from).trimmed();
        if (!line.isEmpty())
            return line;
        end = from - 1;
    }
    return QString();
}

} // namespace batch
