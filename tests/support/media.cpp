#include "support/media.h"

#include "support/process.h"

#include <QFileInfo>

namespace testsupport {

bool makeMedia(const QString &path, const QStringList &args)
{
    QStringList all{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    all << args << path;
    return run("ffmpeg", all).ok() && QFileInfo(path).isFile();
}

QStringList clipArgs(double seconds, bool video, bool audio, const QString &size, int rate,
                     int sampleRate, int channels)
{
    const QString length = QString::number(seconds, 'g', 10);
    QStringList args;
    if (video)
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("testsrc2=size=%1:rate=%2:duration=%3")
                    .arg(size)
                    .arg(rate)
                    .arg(length);
    if (audio) {
        const QString layout = channels == 1   ? QStringLiteral("mono")
                               : channels == 2 ? QStringLiteral("stereo")
                               : channels == 6 ? QStringLiteral("5.1")
                                               : QStringLiteral("%1c").arg(channels);
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
                    .arg(sampleRate)
                    .arg(length)
             << "-af" << QStringLiteral("aformat=channel_layouts=%1").arg(layout);
    }
    if (video)
        args << "-pix_fmt"
             << "yuv420p";
    args << "-t" << length;
    return args;
}

} // namespace testsupport
