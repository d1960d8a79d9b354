#include "CDTaskRules.h"

#include <cstring>

namespace CDTaskRules
{

qint64 CapacityMB(int discType)
{
    switch (discType) {
    case kDiscCD:
        return 650;
    case kDiscDVD:
        return 4300;
    case kDiscBDVD:
        return 27000000; // megabytes, as the server's disc types are defined
    default:
        return 0;
    }
}

bool ExceedsCapacity(int discType, qint64 total)
{
    return total / 1048576 > CapacityMB(discType);
}

QString MegabyteText(qint64 total)
{
    const float megabytes = static_cast<float>(total) * (1.0f / 1048576.0f);
    return QStringLiteral("%1").arg(megabytes, 0, 'g');
}

std::vector<char> FileList(const QStringList& paths)
{
    constexpr size_t kInitialSize = 1024;
    constexpr size_t kMinimumFree = 256;
    std::vector<char> list(kInitialSize, '\0');
    size_t used = 0;
    for (const QString& path : paths) {
        const QByteArray entry = path.toUtf8();
        // Room for the entry, its NUL and the list's closing NUL.
        while (list.size() - used < kMinimumFree ||
               list.size() - used < static_cast<size_t>(entry.size()) + 2)
            list.resize(list.size() * 2, '\0');
        memcpy(list.data() + used, entry.constData(), static_cast<size_t>(entry.size()));
        used += static_cast<size_t>(entry.size()) + 1;
    }
    return list;
}

QByteArray OptionText(const QString& password)
{
    return password.isEmpty() ? QByteArray() : "password=" + password.toUtf8() + ';';
}

} // namespace CDTaskRules
