// zelmora-cli: zelmora's batch without a window.
#include "cli/commands.h"
#include "cli/stopsignals.h"
#include "process/reaper.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    zm::cli::StopSignals::blockEarly(); // before any thread exists
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelmora-cli"));
    const int rc = zm::cli::runCli(QCoreApplication::arguments());
    batch::Reaper::instance().finish();
    return rc;
}
