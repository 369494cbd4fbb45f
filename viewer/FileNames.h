#ifndef KORVANE_FILENAMES_H
#define KORVANE_FILENAMES_H

#include <QByteArray>
#include <QString>
#include <QUrl>

// File names are bytes to the system, text to the user. A name that is no valid text in the system's
// encoding (a Latin-1 "caf\xe9 scan.lsm" on a UTF-8 system) shows with a replacement character and is
// kept, wherever it came from, as its original bytes.

// The name as the user sees it.
QString readableFileName(const QByteArray& aBytes);

// The bytes of a name the user sees: its encoding when that names an existing file; otherwise, folder by
// folder, the one existing entry that reads as the same text (whose bytes do not decode, or are its
// Latin-1 encoding); otherwise its encoding.
QByteArray fileNameBytes(const QString& aReadable);

// The bytes of a local file URL (dropped files): percent-encoded bytes are taken as they are.
QByteArray localFileBytes(const QUrl& aUrl);

#endif
