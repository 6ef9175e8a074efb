#include "numberingfile.h"

#include "textrecord.h"

#include <QByteArray>

namespace nx7::NumberingFile {

double callingNumberOf(const QString &text)
{
    return TextRecord::leadingValue(TextRecord::firstField(text));
}

Result<double> readCallingNumber(const QString &path, const SharedFile::LockWait &wait)
{
    if (Status readable = TextRecord::checkFileToRead(path); !readable)
        return readable.error();
    const Result<QByteArray> bytes = SharedFile::read(path, wait);
    if (!bytes)
        return bytes.error();
    return callingNumberOf(TextRecord::decode(*bytes));
}

Result<double> readCallingNumber(const QString &path)
{
    SharedFile::LockWait once;
    once.limit = std::chrono::milliseconds(0);
    return readCallingNumber(path, once);
}

} // namespace nx7::NumberingFile
