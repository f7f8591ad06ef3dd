#pragma once
#include "engine/commandline.h"

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace zm::cli {

// One line of a job file: one input, one output, the settings, all a worker needs. Paths are
// relative to `root` (to `outputRoot` for the output) when they lie below it, so that a job file
// made on one machine runs on another where the library is mounted elsewhere (`--root-map`).
struct Job {
    int index = 0;
    QString root;          // absolute, as planned
    QString input;         // relative to root, or absolute
    QString outputRoot;    // relative to root, or absolute: the output folder (its journal's key)
    QString output;        // relative to outputRoot
    CommandInputs choices; // format, MP3 options, cut (no paths)
    QString settingsHash;
    std::optional<double> duration; // the length the output should have, seconds
    qint64 size = -1;               // the input when planned
    qint64 mtimeMs = -1;
};

// The line of a job, without its end of line, keys in a fixed order.
QByteArray jobLine(const Job &job);
// Reads one line; the reason in `error` when it is not a job.
std::optional<Job> parseJob(const QByteArray &line, QString *error);

// Reads a job file: every non-empty line a job, numbered from 0. The reason ("jobs.jsonl:3:
// ...") in `error` when a line is not a job.
std::optional<QList<Job>> readJobFile(const QString &path, QString *error);

// OLD=NEW prefixes for paths of another machine.
using RootMap = QList<QPair<QString, QString>>;
// "OLD=NEW" into a pair; nothing for a text without "=" or with an empty side.
std::optional<QPair<QString, QString>> parseRootMap(const QString &text);
// The path with the first OLD prefix that matches (whole path components) replaced by NEW, made
// absolute from the current folder.
QString mapRoot(const QString &path, const RootMap &map);

// Where a job's files are on this machine.
struct JobPaths {
    QString root, input, outputRoot, output;
};
JobPaths resolve(const Job &job, const RootMap &map);

// `path` relative to `base` when it lies below it, else as it is (absolute).
QString relativeIfBelow(const QString &base, const QString &path);

// Which lines a run takes: all, line N (--index), or every line whose number modulo N is I-1
// (--shard I/N). Nothing when the selection is out of range.
struct Selection {
    std::optional<int> index;
    int shard = 1, shards = 1;
};
std::optional<Selection> parseShard(const QString &text);
QList<int> selectJobs(int count, const Selection &selection);

} // namespace zm::cli
