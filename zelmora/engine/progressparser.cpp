#include "engine/progressparser.h"

#include <QStringList>
#include <cmath>
#include <limits>

namespace zm {

namespace {

// Everything after each marker up to the next blank (or the chunk's end), joined. A marker
// counts only when at least one character follows it.
QString collectToken(QStringView chunk, QStringView marker, bool *found)
{
    QString token;
    const qsizetype L = chunk.size();
    const qsizetype m = marker.size();
    for (qsizetype i = 0; i + m < L; ++i) {
        if (chunk.mid(i, m) != marker)
            continue;
        if (found)
            *found = true;
        qsizetype j = i + m;
        while (j < L && chunk.at(j) != QLatin1Char(' '))
            ++j;
        token += chunk.mid(i + m, j - (i + m));
    }
    return token;
}

// Digits with at most one "." from the start; returns the length read.
qsizetype leadingNumber(QStringView s, double *value)
{
    qsizetype i = 0;
    bool dot = false;
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (c.isDigit() && c.unicode() < 128) {
            ++i;
        } else if (c == QLatin1Char('.') && !dot) {
            dot = true;
            ++i;
        } else {
            break;
        }
    }
    QStringView digits = s.left(i);
    if (digits.isEmpty() || digits == QLatin1String(".")) {
        *value = 0;
        return 0;
    }
    bool ok = false;
    *value = digits.toString().toDouble(&ok);
    if (!ok)
        *value = 0;
    return i;
}

// One hours/minutes/seconds part: a number, optionally followed by a comma and whatever the
// converter wrote after it.
bool durationPart(QStringView part, double *value)
{
    const qsizetype n = leadingNumber(part, value);
    if (n == 0)
        return false;
    return n == part.size() || part.at(n) == QLatin1Char(',');
}

qint32 roundHalfEven(double v)
{
    const double r = std::nearbyint(v); // the default rounding mode is to nearest, ties to even
    if (r >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (r <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(r);
}

} // namespace

QString percentCaption(double f)
{
    const double p = f * 100.0;
    QString text = QString::number(p, 'g', 15).toUpper();
    return text.left(4) + QLatin1Char('%');
}

std::optional<double> durationSecondsIn(QStringView chunk)
{
    const QString token = collectToken(chunk, u"Duration: ", nullptr);
    if (token.isEmpty())
        return std::nullopt;
    const QStringList parts = token.split(QLatin1Char(':'));
    double h = 0, m = 0, s = 0;
    if (parts.size() >= 3 && durationPart(parts[0], &h) && durationPart(parts[1], &m) && durationPart(parts[2], &s))
        return h * 3600 + m * 60 + s;
    return std::nullopt;
}

std::optional<double> progressSecondsIn(QStringView chunk)
{
    bool found = false;
    const QString timeToken = collectToken(chunk, u"time=", &found);
    if (!found)
        return std::nullopt;
    double tv = 0;
    leadingNumber(timeToken, &tv);
    return tv;
}

std::optional<ProgressDisplay> parseProgressChunk(QStringView chunk, qint32 &totalSeconds, bool cutterOn, qint32 cutTo)
{
    if (totalSeconds == 0) {
        if (cutterOn) {
            totalSeconds = cutTo;
        } else if (const auto d = durationSecondsIn(chunk)) {
            totalSeconds = roundHalfEven(*d);
        }
    }

    const auto position = progressSecondsIn(chunk);
    if (!position)
        return std::nullopt;
    const qint32 t = roundHalfEven(*position);

    // Without a total every progress text shows a full bar.
    return progressDisplayFor(totalSeconds == 0 ? 1.0 : double(t) / double(totalSeconds));
}

ProgressDisplay progressDisplayFor(double f)
{
    ProgressDisplay d;
    if (f >= 1.0) {
        d.widthTwips = kFullBarTwips;
        d.caption = QStringLiteral("100%");
        return d;
    }
    d.widthTwips = float(f * kFullBarTwips);
    d.caption = percentCaption(f);
    return d;
}

} // namespace zm
