#include "settings/settingsfiles.h"

#include "engine/commandline.h"
#include "settings/optionsrules.h"

#include <QFile>
#include <QSaveFile>
#include <cmath>

namespace zm {

std::optional<QString> SettingsFieldReader::next()
{
    const qsizetype n = m_data.size();
    while (m_pos < n && (m_data[m_pos] == ' ' || m_data[m_pos] == '\t'))
        ++m_pos;
    if (m_pos >= n)
        return std::nullopt;

    QByteArray field;
    if (m_data[m_pos] == '"') {
        // A double quote inside the text is written twice, so a folder whose name holds one
        // comes back whole; any other double quote ends the field.
        qsizetype start = m_pos + 1;
        qsizetype end;
        for (;;) {
            end = m_data.indexOf('"', start);
            if (end < 0) {
                end = n;
                break;
            }
            if (end + 1 < n && m_data[end + 1] == '"') {
                field += m_data.mid(start, end + 1 - start);
                start = end + 2;
                continue;
            }
            break;
        }
        field += m_data.mid(start, end - start);
        m_pos = end + 1;
        // Whatever follows the closing quote up to the next separator belongs to no field.
        while (m_pos < n && m_data[m_pos] != ',' && m_data[m_pos] != '\r' && m_data[m_pos] != '\n')
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < n && m_data[m_pos] != ',' && m_data[m_pos] != '\r' && m_data[m_pos] != '\n')
            ++m_pos;
        field = m_data.mid(start, m_pos - start);
        while (field.endsWith(' ') || field.endsWith('\t'))
            field.chop(1);
    }
    // One separator: a comma, or one line end (CR LF, CR or LF).
    if (m_pos < n) {
        if (m_data[m_pos] == ',' || m_data[m_pos] == '\n') {
            ++m_pos;
        } else if (m_data[m_pos] == '\r') {
            ++m_pos;
            if (m_pos < n && m_data[m_pos] == '\n')
                ++m_pos;
        }
    }
    return QString::fromUtf8(field);
}

QByteArray readSettingsBytes(const QString &path, bool *exists)
{
    QFile f(path);
    const bool there = f.exists();
    if (exists)
        *exists = there;
    if (!there || !f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.read(kSettingsReadLimit);
}

double leadingValue(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        ++i;
    bool digits = false, dot = false;
    while (i < n) {
        const QChar c = text[i];
        if (c.unicode() >= '0' && c.unicode() <= '9') {
            digits = true;
            ++i;
        } else if (c == QLatin1Char('.') && !dot) {
            dot = true;
            ++i;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    bool ok = false;
    const double v = text.mid(start, i - start).toString().toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0;
}

std::optional<qint64> roundToRange(double v, qint64 lo, qint64 hi)
{
    if (!std::isfinite(v))
        return std::nullopt;
    const double r = std::nearbyint(v);
    if (r < double(lo) || r > double(hi))
        return std::nullopt;
    return qint64(r);
}

namespace {

// A list index of setup.ini: a number that fits 16 bits and names an item of the list.
std::optional<int> listIndex(const QString &field, qsizetype itemCount)
{
    const QString t = field.trimmed();
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    const auto r = roundToRange(v, -32768, 32767);
    if (!r || *r < 0 || *r >= itemCount)
        return std::nullopt;
    return int(*r);
}

QByteArray quoted(const QString &s)
{
    QByteArray text = s.toUtf8();
    text.replace('"', "\"\"");
    return '"' + text + "\"\r\n";
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

} // namespace

QByteArray formatSetupIni(const MainChoices &c)
{
    return quoted(QString::number(c.bitrateIndex)) + quoted(QString::number(c.rateIndex))
           + quoted(QString::number(c.channelIndex)) + quoted(c.outputFolder) + quoted(QString::number(c.formatIndex));
}

void applySetupIni(const QByteArray &data, MainChoices &c)
{
    SettingsFieldReader r(data);
    if (auto f = r.next(); f)
        if (auto i = listIndex(*f, bitrateItems().size()))
            c.bitrateIndex = *i;
    if (auto f = r.next(); f)
        if (auto i = listIndex(*f, sampleRateItems().size()))
            c.rateIndex = *i;
    if (auto f = r.next(); f)
        if (auto i = listIndex(*f, channelItems().size()))
            c.channelIndex = *i;
    if (auto f = r.next(); f)
        c.outputFolder = *f;
    if (auto f = r.next(); f)
        if (auto i = listIndex(*f, formatItems().size()))
            c.formatIndex = *i;
}

bool writeSetupIni(const QString &path, const MainChoices &c)
{
    return writeAll(path, formatSetupIni(c));
}

QByteArray formatOptionsIni(const ProgramSettings &s)
{
    QByteArray out;
    for (qint64 v : {qint64(s.gSoundReminder), qint64(s.gCutterOn), qint64(s.gCutFrom), qint64(s.gCutTo)})
        out += QByteArray::number(v) + "\r\n";
    return out;
}

void applyOptionsIni(const QByteArray &data, ProgramSettings &s)
{
    // Each field is read as its leading number, rounded; a value outside the field's domain
    // (a switch that is not 0 or 1, a time below 0 or beyond what the options window shows)
    // gives the field's default. A field the file does not have keeps its value.
    SettingsFieldReader r(data);
    auto field = [&r](qint64 hi) -> std::optional<qint64> {
        const auto f = r.next();
        if (!f)
            return std::nullopt;
        return roundToRange(leadingValue(*f), 0, hi).value_or(0);
    };
    if (const auto v = field(1))
        s.gSoundReminder = qint16(*v);
    if (const auto v = field(1))
        s.gCutterOn = qint16(*v);
    if (const auto v = field(kMaxCutSeconds))
        s.gCutFrom = qint32(*v);
    if (const auto v = field(kMaxCutSeconds))
        s.gCutTo = qint32(*v);
}

bool writeOptionsIni(const QString &path, const ProgramSettings &s)
{
    return writeAll(path, formatOptionsIni(s));
}

} // namespace zm
