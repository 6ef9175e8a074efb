#include "pdfprinter.h"

#include "printerlog.h"
#include "textrecord.h"
#include "ticketpage.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

namespace nx7 {

QString PdfFilePrinter::freeFileName(const QString &path)
{
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString stem = info.dir().filePath(info.completeBaseName());
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(suffix);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

Status PdfFilePrinter::print(const QSizeF &pageSizeMm, int pageCount, const QString &,
                             const PagePainter &paintPage)
{
    const QFileInfo info(m_path);
    if (!info.absoluteDir().exists())
        return Error::make(ErrorNumber::PathNotFound,
                           QStringLiteral("La cartella dei ticket PDF non esiste: %1")
                               .arg(QDir::toNativeSeparators(info.absolutePath())));
    const QString path = freeFileName(m_path);
    // Made in memory, then written under a temporary name and renamed when complete: a
    // full disk leaves no half ticket behind and is reported, not taken for a printed one.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setResolution(300);
        writer.setPageLayout(ticketPageLayout(pageSizeMm));
        writer.setTitle(QStringLiteral("Ticket"));
        writer.setCreator(QStringLiteral("NX7Totem"));
        QPainter painter;
        if (!painter.begin(&writer))
            return printerError(QStringLiteral("Impossibile preparare il file PDF %1")
                                    .arg(QDir::toNativeSeparators(path)));
        for (int page = 0; page < pageCount; ++page) {
            if (page > 0)
                writer.newPage();
            paintPage(painter, page);
        }
        painter.end();
    }
    if (Status written = TextRecord::writeFileAtomically(path, pdf.data()); !written)
        return printerError(QStringLiteral("Il file PDF %1 non è stato scritto: %2")
                                .arg(QDir::toNativeSeparators(path), written.error().description));
    // A write cut short by a full disk is not always reported as an error: check the size.
    if (QFileInfo(path).size() != pdf.size()) {
        QFile::remove(path);
        return printerError(QStringLiteral("Il file PDF %1 non è stato scritto per intero "
                                           "(disco pieno?)")
                                .arg(QDir::toNativeSeparators(path)));
    }
    qCInfo(lcPrinter).noquote() << "ticket written to" << QDir::toNativeSeparators(path);
    return {};
}

Status PdfFilePrinter::ready()
{
    const QFileInfo folder(QFileInfo(m_path).absolutePath());
    if (!folder.isDir() || !folder.isWritable())
        return printerError(QStringLiteral("La cartella dei ticket PDF %1 non esiste o non "
                                           "è scrivibile")
                                .arg(QDir::toNativeSeparators(folder.filePath())));
    return {};
}

} // namespace nx7
