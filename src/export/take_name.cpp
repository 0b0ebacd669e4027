#include "export/take_name.h"

namespace zb {

namespace {
QString twoDigits(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}
}  // namespace

QString takeFileName(const QDateTime& when) {
    const QDate date = when.date();
    const QTime time = when.time();
    const int hour24 = time.hour();
    // 0 and 12 both read 12 on the 12-hour clock.
    const int hour12 = hour24 % 12 == 0 ? 12 : hour24 % 12;
    QString name;
    name += twoDigits(date.month());
    name += twoDigits(date.day());
    name += QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
    name += twoDigits(hour12);
    name += QStringLiteral("24");
    name += QString::number(time.minute());
    name += QStringLiteral("I");
    name += twoDigits(time.second());
    name += hour24 < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
    name += QStringLiteral(".WAV");
    return name;
}

QString takeFolder(const QString& dataDir) {
    QString folder = dataDir;
    while (folder.endsWith(QLatin1Char('/')) && folder.size() > 1) folder.chop(1);
    return folder + QStringLiteral("/takes/");
}

QString freeTakeName(const QString& name, const std::function<bool(const QString&)>& taken) {
    if (!taken(name))
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1_%2%3").arg(stem).arg(n).arg(ext);
        if (!taken(candidate))
            return candidate;
    }
}

QString savedCopyName(const QString& chosen) {
    return chosen + QStringLiteral(".Wav");
}

bool hasUnsavedTake(const QString& takePath, bool takeSaved) {
    // Only blanks are stripped, as the path is compared with nothing else.
    for (const QChar c : takePath) {
        if (c != QLatin1Char(' '))
            return !takeSaved;
    }
    return false;
}

}  // namespace zb
