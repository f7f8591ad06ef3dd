#include "filefilters.h"

namespace FileFilters {

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
