// The connection file NX7PRO.pg, read from a file as the kiosk reads it.
#include "postgres.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("NX7PRO.pg"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    if (auto text = nx7::postgres::readConnectionFile(path))
        (void)nx7::postgres::parseConnectionString(*text);
    return 0;
}
