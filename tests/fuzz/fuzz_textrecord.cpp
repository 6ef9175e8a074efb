// The one-record text files (percorsiT.txt, the numbering files) on any bytes.
#include "textrecord.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString field = nx7::TextRecord::firstField(nx7::TextRecord::decode(bytes));
    (void)nx7::TextRecord::leadingValue(field);
    (void)nx7::TextRecord::leadingNumber(field);
    return 0;
}
