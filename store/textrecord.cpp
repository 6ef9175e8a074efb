#include "textrecord.h"

#include "sharedfile.h"
#include "storelog.h"
#include "systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace nx7::TextRecord {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QString decodeWindows1252(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.append(byte >= 0x80 && byte < 0xA0 ? QChar(kCp1252High[byte - 0x80]) : QChar(byte));
    }
    return text;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QString decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return decodeWindows1252(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString firstField(const QString &text)
{
    qsizetype pos = 0;
    while (pos < text.size() && isBlank(text.at(pos)))
        ++pos;
    if (pos < text.size() && text.at(pos) == u'"') {
        const qsizetype close = text.indexOf(u'"', pos + 1);
        const qsizetype end = close < 0 ? text.size() : close;
        QString field = text.mid(pos + 1, end - pos - 1);
        // A quoted field still ends at the line end when its quote is never closed.
        const qsizetype lineEnd = field.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
        return lineEnd < 0 ? field : field.left(lineEnd);
    }
    qsizetype end = pos;
    while (end < text.size() && text.at(end) != u',' && text.at(end) != u'\r' &&
           text.at(end) != u'\n')
        ++end;
    QString field = text.mid(pos, end - pos);
    while (!field.isEmpty() && isBlank(field.back()))
        field.chop(1);
    return field;
}

double leadingValue(const QString &field)
{
    // Sign, digits and an optional fraction after a full stop, as the old kiosks read it.
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)"));
    const QRegularExpressionMatch match = number.match(field.trimmed());
    return match.hasMatch() ? match.captured().toDouble() : 0.0;
}

Result<qint32> leadingNumber(const QString &field)
{
    const double value = std::nearbyint(leadingValue(field)); // halves to even
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return Error::make(ErrorNumber::Overflow);
    return static_cast<qint32>(value);
}

QByteArray encodeText(const QString &value)
{
    return '"' + value.toUtf8() + "\"\r\n";
}

QByteArray encodeInteger(qint32 value)
{
    return QByteArray::number(value) + "\r\n";
}

Status checkFileToRead(const QString &path)
{
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        return Error::make(ErrorNumber::PathNotFound);
    if (!info.exists())
        return Error::make(ErrorNumber::FileNotFound);
    if (info.isDir())
        return Error::make(ErrorNumber::PathFileAccess);
    return {};
}

Result<QString> readFile(const QString &path)
{
    if (Status readable = checkFileToRead(path); !readable)
        return readable.error();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::make(ErrorNumber::PermissionDenied);
    return decode(file.readAll());
}

Status writeFileAtomically(const QString &path, const QByteArray &contents)
{
    const QFileInfo info(path);
    if (!info.absoluteDir().exists())
        return Error::make(ErrorNumber::PathNotFound);
    // The reason in the operator's words, from the system's error number of the call that
    // failed; the system's own text goes to the log.
    const auto failure = [&path](int number, int error) {
        qCWarning(lcStore).noquote() << "cannot write" << path;
        return SystemReason::fileError(number, QStringLiteral("Impossibile scrivere il file %1"),
                                       path, error == 0 ? EIO : error);
    };
    QSaveFile file(path);
    errno = 0;
    // Unbuffered, so that a full disk shows in write() instead of vanishing in a flush.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(ErrorNumber::PermissionDenied, errno);
    if (file.write(contents) != contents.size()) {
        const int error = errno;
        file.cancelWriting();
        return failure(ErrorNumber::PathFileAccess, error);
    }
    // On disk before the rename, so that a power cut never leaves an empty file.
    if (::fsync(file.handle()) != 0) {
        const int error = errno;
        file.cancelWriting();
        return failure(ErrorNumber::PathFileAccess, error);
    }
    if (!file.commit())
        return failure(ErrorNumber::PathFileAccess, errno);
    return {};
}

Result<QString> readFirstField(const QString &path)
{
    auto text = readFile(path);
    if (!text)
        return text.error();
    return firstField(*text);
}

Status writeText(const QString &path, const QString &value)
{
    return SharedFile::replace(path, encodeText(value));
}

Status writeInteger(const QString &path, qint32 value)
{
    return SharedFile::rewrite(path, encodeInteger(value));
}

} // namespace nx7::TextRecord
