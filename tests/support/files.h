// Small files for tests: making them, reading them back.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace testsupport {

// Writes `content` to `path` (replacing it), making its folder first; true when all was written.
bool touch(const QString &path, const QByteArray &content = QByteArray());

// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// The file's lines (UTF-8) without their line ends, empty lines left out.
QStringList readLines(const QString &path);

} // namespace testsupport
