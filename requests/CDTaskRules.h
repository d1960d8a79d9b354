#pragma once

#include "CDTaskInfo.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

// The rules of the disc-burning request dialog that need no widgets: the
// capacity of each disc type, the selected size as the dialog shows it, and
// the file list and option text handed to the compression library.
namespace CDTaskRules
{

// Capacity of a disc type (CDDiscType) in whole megabytes: 650 for a CD,
// 4300 for a DVD, 27000000 for a BDVD; 0 for an unknown type.
qint64 CapacityMB(int discType);

// Whether total bytes are too many for the disc type: its whole megabytes
// (the total divided by 2^20, truncated) above the capacity. 650 MB and
// 1048575 bytes still fit on a CD.
bool ExceedsCapacity(int discType, qint64 total);

// The total in megabytes as the dialog shows it: computed in single
// precision, six significant digits ("1.5", "650", "1.23457e+06").
QString MegabyteText(qint64 total);

// The compression library's file list: each path as UTF-8 with its NUL,
// one right behind the other, then one more NUL (an empty entry ends the
// list). The buffer is zero-filled, starts at 1024 bytes and doubles
// whenever fewer than 256 bytes are free before an entry is added, and
// further when a long path would not fit whole.
std::vector<char> FileList(const QStringList& paths);

// Longest password (in characters) whose option text stays within 255
// bytes, whatever the characters (at most 3 UTF-8 bytes per character).
constexpr int kMaxPasswordLength = 81;

// The option text for the compression library: empty without a password,
// else "password=<UTF-8 password>;".
QByteArray OptionText(const QString& password);

} // namespace CDTaskRules
