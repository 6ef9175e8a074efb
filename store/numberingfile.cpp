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
    // Nothing of the file is asked on this thread, not even whether it exists: a hung
    // share answers no question, and the read waits for it a bounded time.
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
