#include "logic/filefilters.h"

namespace vidrune {

namespace FileFilters {

namespace {

// Every container the converter's FFmpeg reads as video, each extension in both cases.
QString AllVideoPatterns()
{
    static const char *const extensions[] = {
        "mkv",  "webm", "mov", "mp4",  "m4v", "3gp", "3g2", "f4v", "ts",
        "m2ts", "mts",  "mpg", "mpeg", "vob", "wmv", "asf", "avi", "divx",
        "flv",  "swf",  "rm",  "rmvb", "ogv", "dv",  "mxf",
    };
    QStringList patterns;
    for (const char *e : extensions) {
        const QString ext = QString::fromLatin1(e);
        patterns << QStringLiteral("*.") + ext << QStringLiteral("*.") + ext.toUpper();
    }
    return patterns.join(QLatin1Char(';'));
}

} // namespace

const QList<Entry> &VideoEntries()
{
    static const QList<Entry> entries{
        {" ALL Files",
         "*.RM;*.RMVB;*.rm;*.rmvb;*.AVI;*.avi;*.WMV;*.ASF;*.wmv;*.asf;*.MPG;*.mpg;*.MPEG;*.mpeg;"
         "*.mp4;*.MP4;*.3GP;*.3GPP2;*.3gp;*.3g2;*.swf;*.flv;*.SWF;*.FLV;"},
        {" Real文件", "*.RM;*.RMVB;*.rm;*.rmvb"},
        {" AVI", "*.AVI;*.avi"},
        {" Windows媒体文件", "*.WMV;*.ASF;*.wmv;*.asf"},
        {" MPEG文件", "*.MPG;*.mpg;*.MPEG;*.mpeg"},
        {" MP4文件", "*.mp4;*.MP4"},
        {" 3gp文件", "*.3GP;*.3GPP2;*.3gp;*.3g2"},
        {" flash文件", "*.swf;*.flv;*.SWF;*.FLV"},
        // Phone and camera videos (.mov, .mkv, .ts, ...) that the entries above leave out.
        {"所有视频文件", AllVideoPatterns()},
        {"所有文件", "*"},
    };
    return entries;
}

QStringList ToQtFilters(const QList<Entry> &entries)
{
    QStringList filters;
    for (const Entry &e : entries) {
        const QStringList patterns = e.patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        filters << e.label + QStringLiteral(" (") + patterns.join(QLatin1Char(' '))
                       + QLatin1Char(')');
    }
    return filters;
}

} // namespace FileFilters

} // namespace vidrune
