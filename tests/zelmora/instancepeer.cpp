// A start of zelmora without the window, for the tests of the single instance: it takes part
// in the lock and the socket exactly as the program does and says on stdout what happened.
//
//   zm_instance_peer FOLDER [--serve N] [--refuse] [--timeout MS] [PATH...]
//
// Prints "first" (and "own" with its PATHs) when it is the first, "handed-over" or "no-answer"
// otherwise. The first prints every request it takes as "request", its paths and token in hex,
// and ends after N of them; with --refuse it answers the first request "busy" and ends, as a
// window that is closing does. The environment variable ZM_PEER_TOKEN is its activation token.
#include "instance/singleinstance.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void sayRequest(const char *kind, const zm::LaunchRequest &r)
{
    say(QByteArray(kind) + ' ' + QByteArray::number(r.paths.size()) + ' ' + r.activationToken.toUtf8().toHex());
    for (const QString &p : r.paths)
        say("path " + p.toUtf8().toHex());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString folder = args.takeFirst();
    int serve = 0, timeoutMs = zm::SingleInstance::kHandOverTimeoutMs;
    bool refuse = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--serve"))
            serve = args.takeFirst().toInt();
        else if (option == QLatin1String("--timeout"))
            timeoutMs = args.takeFirst().toInt();
        else if (option == QLatin1String("--refuse"))
            refuse = true;
    }
    const zm::LaunchRequest own{args, qEnvironmentVariable("ZM_PEER_TOKEN")};
    zm::SingleInstance instance(folder);
    switch (instance.start(own, timeoutMs)) {
    case zm::SingleInstance::Outcome::HandedOver:
        say("handed-over");
        return 0;
    case zm::SingleInstance::Outcome::NoAnswer:
        say("no-answer");
        return 1;
    case zm::SingleInstance::Outcome::First:
        break;
    }
    say(instance.isListening() ? QByteArray("first") : "first, not listening: " + instance.listenError().toUtf8());
    sayRequest("own", own);
    int taken = 0;
    instance.onRequest = [&](const zm::LaunchRequest &r) {
        if (refuse) {
            say("refused");
            instance.stopListening();
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
            return false;
        }
        sayRequest("request", r);
        if (++taken >= serve)
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        return true;
    };
    if (serve == 0 && !refuse)
        return 0;
    return app.exec();
}
