#pragma once
#include "pool/jobpool.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace zm {

// Album gain in a batch. An album is the set of files that end in one output folder with the
// same album tag; files without an album tag go together by the folder they come from. Each
// track is converted with its ReplayGain track tags and its measurement (the blocks of its
// sound) written into a state folder; once the last track of an album has ended, every output
// of the album gets the album's tags from all the measurements together, through
// `conv -retag OUT -album-from M1 -album-from M2 ...` (tags only, the same temporary file and
// rename as a conversion: a failure leaves the output as it was).

// The album a file belongs to, as a key: its output folder, then its album tag, or without one
// its source folder.
QString albumKey(const QString &outputDir, const QString &albumTag, const QString &inputPath);

struct AlbumMember {
    QString input;
    QString outputDir;
    QString albumTag; // empty: none
};
// The albums of `members`, each the indexes of its members in order; albums in the order of
// their first member.
QList<QList<int>> groupAlbums(const QList<AlbumMember> &members);

// Whether the format (by index of the format list) carries ReplayGain tags: MP3, WMA, OGG, FLAC,
// M4A and Opus do; WAV, AC3, AAC (ADTS) and AMR do not.
bool formatCarriesGainTags(int formatIndex);

// The file name of a track's measurement in a state folder, from the key its output has there
// (a path relative to the output folder, so the name is the same on every machine).
QString measurementFileName(const QString &outputKey);

// Runs the album tag rewrites as converter jobs, at most `jobs` at once. An album's files are
// shared out over as many converters as may run (`conv -retag A -retag B ...`: one start of the
// converter for several files); when one of those fails, each of its files is rewritten alone
// again (a rewrite is the same however often it is done), so a failure names its file.
class AlbumTagger final : public QObject
{
    Q_OBJECT
public:
    struct Track {
        QString output;
        QString measurement; // the track's measurement file
    };

    // `converter`: the conv to run.
    AlbumTagger(QString converter, int jobs, QObject *parent = nullptr);

    // Writes the album's tags into the output of every track, from all the tracks' measurements.
    // Once each rewrite of the album has ended, the measurements are removed when every one
    // succeeded (a failed album keeps them, so a later run can tag it again).
    void tagAlbum(const QList<Track> &tracks);

    bool isIdle() const { return m_waiting.isEmpty() && m_pool.running() == 0; }
    // Stops every rewrite (each leaves its file as it was) and starts none any more.
    void stop(int graceMs);
    // The outputs tagged, and the failures ("OUT: reason"), so far.
    int tagged() const { return m_tagged; }
    const QStringList &failures() const { return m_failures; }

signals:
    // One output's rewrite has ended.
    void trackTagged(const QString &output, bool ok);
    // No rewrite runs or waits any more.
    void idle();

private:
    struct Rewrite {
        int album = 0;
        QStringList outputs;
        QStringList from; // -album-from M ...
    };
    struct AlbumState {
        QStringList measurements;
        int left = 0;
        bool failed = false;
    };
    void fill();
    void ended(int slot, const batch::ProcessOutcome &outcome);

    QString m_converter;
    batch::JobPool m_pool;
    QList<Rewrite> m_waiting;
    QHash<int, Rewrite> m_running; // by slot
    QList<AlbumState> m_albums;
    QStringList m_failures;
    int m_tagged = 0;
    bool m_stopped = false;
};

} // namespace zm
