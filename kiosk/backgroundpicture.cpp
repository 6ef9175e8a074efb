#include "backgroundpicture.h"

#include <QFileInfo>
#include <QImageReader>

namespace nx7::BackgroundPicture {

namespace {

// Bytes of a decoded picture at 32 bits per pixel.
constexpr qint64 kBytesPerPixel = 4;

bool beyondAllocationLimit(const QSize &size)
{
    const qint64 limitMB = QImageReader::allocationLimit();
    if (limitMB <= 0) // no limit set
        return false;
    return qint64(size.width()) * size.height() * kBytesPerPixel > limitMB * 1024 * 1024;
}

} // namespace

Fault faultOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return Fault::NotFound;
    // The header alone tells the size; the picture is not decoded again.
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() && beyondAllocationLimit(size))
        return Fault::TooLarge;
    return Fault::Corrupt;
}

QStringList messageLines(Fault fault)
{
    switch (fault) {
    case Fault::TooLarge:
        return {QStringLiteral("Immagine di sfondo troppo grande !"),
                QStringLiteral("Ridurla alle dimensioni dello schermo"),
                QStringLiteral("e salvarla di nuovo con lo stesso nome")};
    case Fault::Corrupt:
        return {QStringLiteral("Immagine di sfondo danneggiata !"),
                QStringLiteral("Il file non è un'immagine leggibile:"),
                QStringLiteral("sostituirlo con un'immagine valida")};
    case Fault::NotFound:
        break;
    }
    return {QStringLiteral("Immagine di sfondo non trovata !"),
            QStringLiteral("Controllare il percorso e che la cartella"),
            QStringLiteral("di provenienza risulti condivisa")};
}

QString logWord(Fault fault)
{
    switch (fault) {
    case Fault::TooLarge:
        return QStringLiteral("too large");
    case Fault::Corrupt:
        return QStringLiteral("corrupt or not a picture");
    case Fault::NotFound:
        break;
    }
    return QStringLiteral("not found");
}

} // namespace nx7::BackgroundPicture
