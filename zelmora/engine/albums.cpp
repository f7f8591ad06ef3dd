#include "engine/albums.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace zm {

QString albumKey(const QString &outputDir, const QString &albumTag, const QString &inputPath)
{
    const QString folder = QDir::cleanPath(outputDir);
    const QString tag = albumTag.trimmed();
    if (!tag.isEmpty())
        return folder + QStringLiteral("\nalbum:") + tag;
    return folder + QStringLiteral("\nfolder:") + QDir::cleanPath(QFileInfo(inputPath).absolutePath());
}

QList<QList<int>> groupAlbums(const QList<AlbumMember> &members)
{
    QList<QList<int>> albums;
    QHash<QString, qsizetype> byKey;
    for (qsizetype i = 0; i < members.size(); ++i) {
        const AlbumMember &m = members.at(i);
        const QString key = albumKey(m.outputDir, m.albumTag, m.input);
        const auto at = byKey.constFind(key);
        if (at == byKey.constEnd()) {
            byKey.insert(key, albums.size());
            albums.append(QList<int>{int(i)});
        } else {
            albums[*at].append(int(i));
        }
    }
    return albums;
}

bool formatCarriesGainTags(int formatIndex)
{
    switch (formatIndex) {
    case 0: // MP3
    case 1: // WMA
    case 2: // OGG
    case 4: // FLAC
    case 8: // M4A
    case 9: // Opus
        return true;
    default:
        return false;
    }
}

QString measurementFileName(const QString &outputKey)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(outputKey.toUtf8(), QCryptographicHash::Sha256).toHex().left(32))
           + QStringLiteral(".json");
}

AlbumTagger::AlbumTagger(QString converter, int jobs, QObject *parent)
    : QObject(parent), m_converter(std::move(converter)), m_pool(std::max(jobs, 1))
{
    connect(&m_pool, &batch::JobPool::finished, this, &AlbumTagger::ended);
}

void AlbumTagger::tagAlbum(const QList<Track> &tracks)
{
    if (tracks.isEmpty() || m_stopped)
        return;
    AlbumState album;
    QStringList from;
    for (const Track &t : tracks) {
        album.measurements << t.measurement;
        from << QStringLiteral("-album-from") << t.measurement;
    }
    album.left = int(tracks.size());
    const int index = int(m_albums.size());
    m_albums << album;
    // As many shares as converters may run, each of neighbouring files.
    const qsizetype shares = std::min<qsizetype>(m_pool.capacity(), tracks.size());
    for (qsizetype s = 0; s < shares; ++s) {
        Rewrite r{index, {}, from};
        for (qsizetype i = s * tracks.size() / shares; i < (s + 1) * tracks.size() / shares; ++i)
            r.outputs << tracks.at(i).output;
        m_waiting << r;
    }
    fill();
}

void AlbumTagger::fill()
{
    QPointer<AlbumTagger> self(this);
    m_pool.fill([this](batch::ConverterProcess &process, int slot) {
        if (m_stopped || m_waiting.isEmpty())
            return false;
        const Rewrite r = m_waiting.takeFirst();
        batch::ProcessRequest request;
        request.arguments << m_converter;
        for (const QString &output : r.outputs)
            request.arguments << QStringLiteral("-retag") << output;
        request.arguments += r.from;
        request.stdoutTo = batch::Stream::Null;
        request.environment = {batch::threadShareEntry(m_pool.capacity())};
        if (!process.start(request)) {
            for (const QString &output : r.outputs)
                m_failures << QStringLiteral("%1: the album tags were not written: %2")
                                  .arg(output, process.outcome().describe());
            m_albums[r.album].failed = true;
            m_albums[r.album].left -= int(r.outputs.size());
            return true;
        }
        m_running.insert(slot, r);
        return true;
    });
    if (self && isIdle())
        emit idle();
}

void AlbumTagger::ended(int slot, const batch::ProcessOutcome &outcome)
{
    const auto it = m_running.find(slot);
    if (it == m_running.end())
        return;
    const Rewrite r = *it;
    m_running.erase(it);
    AlbumState &album = m_albums[r.album];
    const bool ok = outcome.succeeded();
    if (!ok && r.outputs.size() > 1 && !m_stopped) {
        // Which file failed: each again on its own (those done already come out the same).
        for (const QString &output : r.outputs)
            m_waiting.prepend(Rewrite{r.album, {output}, r.from});
        fill();
        return;
    }
    if (ok) {
        m_tagged += int(r.outputs.size());
    } else {
        album.failed = true;
        const QString why = outcome.lastLine.isEmpty() ? outcome.describe() : outcome.lastLine;
        for (const QString &output : r.outputs)
            m_failures << QStringLiteral("%1: the album tags were not written: %2").arg(output, why);
    }
    album.left -= int(r.outputs.size());
    if (album.left == 0 && !album.failed)
        for (const QString &m : album.measurements)
            QFile::remove(m);
    QPointer<AlbumTagger> self(this);
    for (const QString &output : r.outputs) {
        emit trackTagged(output, ok);
        if (!self)
            return;
    }
    fill();
}

void AlbumTagger::stop(int graceMs)
{
    m_stopped = true;
    m_waiting.clear();
    m_pool.stopAll(graceMs);
}

} // namespace zm
