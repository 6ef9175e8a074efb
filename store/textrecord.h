#pragma once

#include "errors.h"

#include <QByteArray>
#include <QString>

namespace nx7 {

// The one-record text files ("percorsiT.txt" and the numbering files): a delimited
// field written as a quoted text or a bare integer, ended by CR LF.
namespace TextRecord {

// Bytes of a file as text: UTF-8 when valid, otherwise Windows-1252, as written by
// the older Windows kiosks.
QString decode(const QByteArray &bytes);

// The first field of a record: leading blanks skipped; a quoted field runs to the
// closing quote, commas included; otherwise it ends at a comma or the line end and
// loses its trailing blanks. Accepts CR LF and LF line ends.
QString firstField(const QString &text);

// The value of the leading number of a field ("12abc" -> 12, "abc" -> 0), however large.
double leadingValue(const QString &field);
// The same as a 32-bit integer; Overflow when it does not fit.
Result<qint32> leadingNumber(const QString &field);

QByteArray encodeText(const QString &value);
QByteArray encodeInteger(qint32 value);

// Whether a file can be opened for reading: 76 (folder missing), 53 (file missing),
// 75 (a folder of that name).
Status checkFileToRead(const QString &path);
// Reads a whole text file; errors as above, and 70 when it cannot be opened.
Result<QString> readFile(const QString &path);
// Replaces a file atomically (temporary file, then rename): never half-written.
Status writeFileAtomically(const QString &path, const QByteArray &contents);

Result<QString> readFirstField(const QString &path);
// Replaced atomically where the folder is writable, in place where only the file is.
Status writeText(const QString &path, const QString &value);
// A numbering file shared with the stations: rewritten in place under their lock.
Status writeInteger(const QString &path, qint32 value);

} // namespace TextRecord
} // namespace nx7
