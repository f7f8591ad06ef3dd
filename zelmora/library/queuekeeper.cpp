#include "library/queuekeeper.h"

#include "engine/batchdriver.h"
#include "queue/queuemodel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace zm {

namespace {

const QString kFormat = QStringLiteral("zelmora-queue/1");

} // namespace

std::optional<UnfinishedBatch> readUnfinishedBatch(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A queue of many thousand files is still far below this.
    constexpr qint64 kLimit = 64LL << 20;
    if (file.size() > kLimit)
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    const QJsonObject top = doc.object();
    if (top.value(QStringLiteral("format")).toString() != kFormat)
        return std::nullopt;
    UnfinishedBatch b;
    const QJsonArray files = top.value(QStringLiteral("files")).toArray();
    for (const QJsonValue v : files) {
        const QJsonObject f = v.toObject();
        const QString p = f.value(QStringLiteral("path")).toString();
        if (p.isEmpty())
            continue;
        b.paths << p;
        b.roots << f.value(QStringLiteral("root")).toString();
        if (f.value(QStringLiteral("state")).toString() == QLatin1String("converting"))
            ++b.started;
    }
    if (b.paths.isEmpty())
        return std::nullopt;
    return b;
}

bool writeUnfinishedBatch(const QString &path, const UnfinishedBatch &batch, QString *error)
{
    QJsonArray files;
    for (qsizetype i = 0; i < batch.paths.size(); ++i) {
        QJsonObject f;
        f.insert(QStringLiteral("path"), batch.paths.at(i));
        f.insert(QStringLiteral("root"), batch.roots.value(i));
        f.insert(QStringLiteral("state"), i < batch.started ? QStringLiteral("converting") : QStringLiteral("waiting"));
        files.append(f);
    }
    QJsonObject top;
    top.insert(QStringLiteral("format"), kFormat);
    top.insert(QStringLiteral("files"), files);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(top).toJson(QJsonDocument::Compact)) < 0
        || !out.commit()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, out.errorString());
        return false;
    }
    return true;
}

QueueKeeper::QueueKeeper(QueueModel &queue, BatchDriver &batch, QString path, QObject *parent)
    : QObject(parent), m_queue(queue), m_batch(batch), m_path(std::move(path)), m_pending(readUnfinishedBatch(m_path))
{
    for (auto changed : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(&m_queue, changed, this, &QueueKeeper::save);
    connect(&m_queue, &QAbstractItemModel::modelReset, this, &QueueKeeper::save);
    connect(&m_batch, &BatchDriver::controlsLocked, this, &QueueKeeper::save);
    connect(&m_batch, &BatchDriver::fileStarted, this, [this] {
        // The file joins the started ones once its runner is under way: save after that.
        QMetaObject::invokeMethod(this, &QueueKeeper::save, Qt::QueuedConnection);
    });
    connect(&m_batch, &BatchDriver::batchEnded, this,
            [this](const BatchOutcome &outcome) { batchEnded(outcome.stopped); });
}

QString QueueKeeper::pathFor(const QString &stateFolder, const QString &settingsFolder)
{
    const QByteArray key = QFile::encodeName(QDir::cleanPath(QFileInfo(settingsFolder).absoluteFilePath()));
    const QByteArray hex = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16);
    return stateFolder + QStringLiteral("/queue-") + QString::fromLatin1(hex) + QStringLiteral(".json");
}

void QueueKeeper::takePending()
{
    if (!m_pending)
        return;
    const UnfinishedBatch b = *m_pending;
    m_pending.reset();
    m_queue.appendEntries(b.paths, b.roots);
}

void QueueKeeper::discardPending()
{
    m_pending.reset();
    if (!m_batch.isRunning())
        QFile::remove(m_path);
}

void QueueKeeper::save()
{
    if (!m_batch.isRunning()) {
        // Nothing to continue. A saved queue not yet offered stays until it is answered.
        if (!m_pending && !m_closing)
            QFile::remove(m_path);
        return;
    }
    UnfinishedBatch b;
    b.paths = m_queue.paths();
    b.roots = m_queue.roots();
    b.started = std::min(m_batch.startedFiles(), m_queue.count());
    if (b.paths.isEmpty()) {
        QFile::remove(m_path);
        return;
    }
    QString error;
    m_error = writeUnfinishedBatch(m_path, b, &error) ? QString() : error;
}

void QueueKeeper::batchEnded(bool stopped)
{
    if (!(stopped && m_closing)) {
        if (!m_pending)
            QFile::remove(m_path);
        return;
    }
    // Closing mid-batch: what is left waits for the next start.
    UnfinishedBatch b;
    b.paths = m_queue.paths();
    b.roots = m_queue.roots();
    if (b.paths.isEmpty()) {
        QFile::remove(m_path);
        return;
    }
    QString error;
    m_error = writeUnfinishedBatch(m_path, b, &error) ? QString() : error;
}

} // namespace zm
