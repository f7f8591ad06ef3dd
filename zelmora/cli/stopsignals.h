#pragma once
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace zm::cli {

// SIGINT and SIGTERM, received on the event loop (a signalfd) instead of by a handler, so that
// the batch can stop every converter and end in order. blockEarly() must run before any thread
// exists (first thing in main), so that no thread takes the signals the old way; children are
// started with their own signal state by the process model.
class StopSignals final : public QObject
{
    Q_OBJECT
public:
    static void blockEarly();

    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;
    Q_DISABLE_COPY_MOVE(StopSignals)

    // How many have arrived so far.
    int count() const { return m_count; }

signals:
    void received(int signal, int count);

private:
    void read();

    int m_fd = -1;
    int m_count = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace zm::cli
