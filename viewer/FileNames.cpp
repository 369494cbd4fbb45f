#include "FileNames.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QStringList>

namespace {

bool exists(const QByteArray& aPath) {
    struct stat status;
    return ::stat(aPath.isEmpty() ? "." : aPath.constData(), &status) == 0;
}

// The one entry of aFolder that reads as aReadable, or nothing.
QByteArray entryReadAs(const QByteArray& aFolder, const QString& aReadable) {
    DIR* folder = ::opendir(aFolder.isEmpty() ? "." : aFolder.constData());
    if (!folder) return QByteArray();
    QByteArray found;
    int matches = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (QFile::decodeName(name) == aReadable || QString::fromLatin1(name) == aReadable) {
            found = name;
            ++matches;
        }
    }
    ::closedir(folder);
    return matches == 1 ? found : QByteArray();
}

}  // namespace

QString readableFileName(const QByteArray& aBytes) { return QFile::decodeName(aBytes); }

QByteArray fileNameBytes(const QString& aReadable) {
    const QByteArray encoded = QFile::encodeName(aReadable);
    if (aReadable.isEmpty() || exists(encoded)) return encoded;
    const QStringList parts = aReadable.split(QLatin1Char('/'));
    QByteArray path;
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0) path += '/';
        const QByteArray part = QFile::encodeName(parts[i]);
        if (parts[i].isEmpty() || exists(path + part)) {
            path += part;
            continue;
        }
        const QByteArray entry = entryReadAs(path.isEmpty() && i > 0 ? QByteArray("/") : path, parts[i]);
        if (entry.isEmpty()) return encoded;
        path += entry;
    }
    return path;
}

QByteArray localFileBytes(const QUrl& aUrl) {
    if (!aUrl.isLocalFile()) return QByteArray();
    // toLocalFile() would decode the bytes as UTF-8 and lose those that are not.
    return QByteArray::fromPercentEncoding(aUrl.path(QUrl::FullyEncoded).toLatin1());
}
