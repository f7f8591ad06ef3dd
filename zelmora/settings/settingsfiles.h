#pragma once
#include "engine/programsettings.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace zm {

// Reads the fields of a settings file one by one: leading blanks are skipped; a field that
// starts with a double quote runs to the next double quote (the quotes are removed; two double
// quotes in a row inside it stand for one, as they are written for a folder name holding one); any other
// field runs to the next comma or line end. Garbage and huge lines are read without harm.
class SettingsFieldReader final
{
public:
    explicit SettingsFieldReader(QByteArray data) : m_data(std::move(data)) {}
    std::optional<QString> next(); // nothing once the data is used up

private:
    QByteArray m_data;
    qsizetype m_pos = 0;
};

// The four choices and the output folder the main window saves.
struct MainChoices {
    int bitrateIndex = 8; // cmbBR "192"
    int rateIndex = 1;    // cmbR "44100"
    int channelIndex = 1; // cmbChannel "Stereo"
    QString outputFolder; // txtPath
    int formatIndex = 1;  // cmbOF "WMA"
    bool operator==(const MainChoices &) const = default;
};

// Settings files are never read beyond this size; a longer file is treated as cut there.
inline constexpr qint64 kSettingsReadLimit = 1 << 20;

QByteArray readSettingsBytes(const QString &path, bool *exists);

// setup.ini: five quoted lines (bit-rate index, rate index, channel index, folder, format index).
QByteArray formatSetupIni(const MainChoices &c);
// Applies the fields of setup.ini text to `c`; a missing or unusable field keeps its value.
void applySetupIni(const QByteArray &data, MainChoices &c);
bool writeSetupIni(const QString &path, const MainChoices &c);

// options.ini: four bare integers (sound reminder, cutter on, from, to). The one reader of the
// file: start-up and the options window's OK both go through it, so the batch and the window
// always agree on what is in force.
QByteArray formatOptionsIni(const ProgramSettings &s);
void applyOptionsIni(const QByteArray &data, ProgramSettings &s);
bool writeOptionsIni(const QString &path, const ProgramSettings &s);

// The leading numeric part of a text ("1.5x" -> 1.5, "abc" -> 0, " -5" -> -5).
double leadingValue(QStringView text);
// Rounded to the nearest integer (ties to even) when it fits the range, nothing otherwise.
std::optional<qint64> roundToRange(double v, qint64 lo, qint64 hi);

} // namespace zm
