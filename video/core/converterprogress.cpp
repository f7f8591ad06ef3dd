#include "core/converterprogress.h"

#include <QFile>

namespace vidrune {

namespace ConverterProgress {

bool Reset(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write("0", 1) == 1 && file.flush();
}

long long Read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // The number is at the start; 64 bytes hold any sensible content.
    const QByteArray head = file.read(64);
    qsizetype i = 0;
    while (i < head.size() && (head[i] == ' ' || (head[i] >= '\t' && head[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < head.size() && (head[i] == '+' || head[i] == '-')) {
        negative = head[i] == '-';
        ++i;
    }
    if (i >= head.size() || head[i] < '0' || head[i] > '9')
        return 0;
    long long value = 0;
    constexpr long long Cap = 1LL << 40;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i) {
        value = value * 10 + (head[i] - '0');
        if (value > Cap)
            value = Cap;
    }
    return negative ? -value : value;
}

View Interpret(long long value)
{
    View view;
    if (value < 0 || value > Complete) {
        view.status = QStringLiteral("--%");
        return view;
    }
    view.valid = true;
    view.barValue = static_cast<int>(value);
    view.status = QStringLiteral("%1%").arg(value / 10);
    return view;
}

} // namespace ConverterProgress

} // namespace vidrune
