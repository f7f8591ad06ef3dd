#pragma once

#include <QString>

#include <functional>

namespace vidrune {

// How an output file is named from its input, the output folder and the extension.
namespace OutputNaming {

// The file name (text after the last '/') without its extension (from the file name's last
// '.' on); a file name without '.' is taken whole. Dots in folder names do not count.
QString BaseName(const QString &inputPath);

// "<folder>/<prefix><base>.<ext>"; a folder ending in '/' gets no second one.
QString Join(const QString &folder, const QString &base, const QString &ext,
             const QString &prefix = QString());

// The output of `inputPath`: "<folder>/<base name>.<ext>".
QString BuildOutputPath(const QString &folder, const QString &inputPath, const QString &ext);

// The name used when the user declines to overwrite: "重命名<base>.<ext>", and when that file
// exists as well "重命名<base> (2).<ext>", " (3)", ... so no existing file is replaced.
QString RenamedPath(const QString &folder, const QString &base, const QString &ext,
                    const std::function<bool(const QString &)> &exists);

// The prefix of an output that would otherwise be its own input.
inline const QString NewPrefix = QStringLiteral("新");
inline const QString RenamePrefix = QStringLiteral("重命名");

} // namespace OutputNaming

} // namespace vidrune
