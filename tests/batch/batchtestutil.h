#pragma once
// Shared pieces of the batch engine's tests: the fake child and a process followed to its end.
#include "process/converterprocess.h"
#include "support/process.h"

#include <QElapsedTimer>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace batchtest {

// A request that runs the fake child with `steps`.
inline batch::ProcessRequest child(const QStringList &steps)
{
    batch::ProcessRequest request;
    request.program = QStringLiteral(FAKECHILD_PATH);
    request.arguments = QStringList{QStringLiteral("child")} + steps;
    return request;
}

// A process with what it handed on and how it ended, timed from its start.
struct Followed {
    batch::ConverterProcess process;
    QStringList chunks;
    int finishes = 0;
    int chunksAtFinish = -1;
    batch::ProcessOutcome outcome;
    QElapsedTimer clock;
    Followed()
    {
        QObject::connect(&process, &batch::ConverterProcess::output, &process,
                         [this](const QString &c) { chunks << c; });
        QObject::connect(&process, &batch::ConverterProcess::finished, &process,
                         [this](const batch::ProcessOutcome &o) {
                             ++finishes;
                             chunksAtFinish = int(chunks.size());
                             outcome = o;
                         });
    }
    bool start(const batch::ProcessRequest &request)
    {
        clock.start();
        return process.start(request);
    }
    bool waitFinished(int timeoutMs = 20000)
    {
        return testsupport::waitFor([this] { return finishes > 0; }, timeoutMs);
    }
    QString text() const { return chunks.join(QString()); }
};

} // namespace batchtest
