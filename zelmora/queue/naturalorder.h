#pragma once
#include <QString>
#include <QStringList>

namespace zm {

// Name order as desktop file managers show it: numbers compare by value ("clip 8" before
// "clip 13"), letter case aside; names equal that way keep a fixed order.
bool naturalLess(const QString &a, const QString &b);
void sortNaturally(QStringList &names);

// True for a regular file (a link is followed). FIFOs, sockets, devices, folders and missing
// paths are no input: a FIFO would hold the converter for ever.
bool isRegularFile(const QString &path);

} // namespace zm
