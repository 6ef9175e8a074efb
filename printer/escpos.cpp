#include "escpos.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <cmath>
#include <cstring>

namespace nx7::EscPos {

namespace {

constexpr char ESC = 0x1b;
constexpr char GS = 0x1d;
constexpr char DLE = 0x10;
constexpr char EOT = 0x04;

// DLE EOT 1
constexpr quint8 kOffline = 0x08;
// DLE EOT 2
constexpr quint8 kCoverOpen = 0x04;
constexpr quint8 kStoppedByPaperEnd = 0x20;
constexpr quint8 kErrorOccurred = 0x40;
// DLE EOT 3
constexpr quint8 kCutterError = 0x08;
constexpr quint8 kUnrecoverableError = 0x20;
constexpr quint8 kAutoRecoverableError = 0x40;
// DLE EOT 4
constexpr quint8 kPaperNearEnd = 0x0c;
constexpr quint8 kPaperEnd = 0x60;

QByteArray bytesOf(std::initializer_list<char> bytes)
{
    return QByteArray(bytes.begin(), qsizetype(bytes.size()));
}

void appendWord(QByteArray &bytes, int value)
{
    bytes.append(char(value & 0xff));
    bytes.append(char((value >> 8) & 0xff));
}

PrinterState state(PrinterState::Condition condition, const QString &detail)
{
    return PrinterState{condition, detail};
}

} // namespace

std::optional<std::pair<QString, quint16>> Settings::hostAndPort() const
{
    const QUrl url(address);
    if (!url.isValid() || url.scheme() != u"tcp" || url.host().isEmpty() || url.port() <= 0 ||
        !url.path().isEmpty())
        return std::nullopt;
    return std::make_pair(url.host(), quint16(url.port()));
}

std::optional<Settings> parseSettings(const QString &text, QString *problem)
{
    const auto fail = [&](const QString &why) -> std::optional<Settings> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return fail(QStringLiteral("escpos needs tcp://HOST:PORT or a device"));
    Settings settings;
    settings.address = words.first();
    if (settings.isNetwork() ? !settings.hostAndPort() : !settings.address.startsWith(u'/'))
        return fail(QStringLiteral("escpos target must be tcp://HOST:PORT or a /dev/... path"));
    for (const QString &word : words.mid(1)) {
        const QString key = word.section(u'=', 0, 0).toLower();
        const QString value = word.section(u'=', 1);
        bool ok = false;
        const int number = value.toInt(&ok);
        if (key == u"dots" && ok && number >= 8 && number <= 4096 && number % 8 == 0)
            settings.dots = number;
        else if (key == u"baud" && ok && number > 0)
            settings.baud = number;
        else if (key == u"cut" && value == u"partial")
            settings.cut = Cut::Partial;
        else if (key == u"cut" && value == u"full")
            settings.cut = Cut::Full;
        else if (key == u"cut" && value == u"none")
            settings.cut = Cut::None;
        else
            return fail(QStringLiteral("escpos option '%1' not understood (dots=N, a multiple "
                                       "of 8; cut=partial|full|none; baud=B)")
                            .arg(word));
    }
    return settings;
}

QByteArray initialize()
{
    return bytesOf({ESC, '@'});
}

namespace {

// A printer acts on DLE EOT, DLE ENQ and DLE DC4 wherever they stand in what it receives,
// picture data included: a reply would come back unasked (and be read as the answer to
// the question after the cut) and DLE DC4 8 would empty its buffer in mid-ticket. Such a
// run of dots loses its first lone dot, which nobody sees on paper.
void withoutRealTimeCommands(QByteArray &bytes, qsizetype from)
{
    for (qsizetype i = from; i + 1 < bytes.size(); ++i) {
        const char next = bytes.at(i + 1);
        if (bytes.at(i) == DLE && (next == EOT || next == 0x05 || next == 0x14))
            bytes[i] = 0;
    }
}

} // namespace

QByteArray raster(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const int widthBytes = (grey.width() + 7) / 8;
    QByteArray bytes;
    bytes.reserve(grey.height() * widthBytes + (grey.height() / kMaxBandRows + 1) * 8);
    for (int top = 0; top < grey.height(); top += kMaxBandRows) {
        const int rows = std::min(kMaxBandRows, grey.height() - top);
        bytes.append(GS);
        bytes.append('v');
        bytes.append('0');
        bytes.append(char(0)); // normal density
        appendWord(bytes, widthBytes);
        appendWord(bytes, rows);
        for (int y = top; y < top + rows; ++y) {
            const uchar *line = grey.constScanLine(y);
            for (int byte = 0; byte < widthBytes; ++byte) {
                uchar packed = 0;
                for (int bit = 0; bit < 8; ++bit) {
                    const int x = byte * 8 + bit;
                    if (x < grey.width() && line[x] < 128)
                        packed |= uchar(0x80 >> bit);
                }
                bytes.append(char(packed));
            }
        }
        withoutRealTimeCommands(bytes, bytes.size() - qsizetype(rows) * widthBytes);
    }
    return bytes;
}

namespace {

struct Band
{
    int widthBytes = 0;
    int rows = 0;
    QByteArray dots;
};

// The bands of GS v 0 in `bytes`, in order.
QList<Band> rasterBands(const QByteArray &bytes)
{
    QList<Band> bands;
    const auto word = [&](qsizetype at) { return quint8(bytes[at]) | quint8(bytes[at + 1]) << 8; };
    for (qsizetype i = 0; i + 8 <= bytes.size(); ++i) {
        if (bytes[i] != GS || bytes[i + 1] != 'v' || bytes[i + 2] != '0')
            continue;
        Band band{word(i + 4), word(i + 6), {}};
        const qsizetype size = qsizetype(band.widthBytes) * band.rows;
        if (i + 8 + size > bytes.size())
            break;
        band.dots = bytes.mid(i + 8, size);
        bands.append(band);
        i += 8 + size - 1;
    }
    return bands;
}

} // namespace

QImage rasterImage(const QByteArray &bytes)
{
    const QList<Band> bands = rasterBands(bytes);
    int width = 0;
    int height = 0;
    for (const Band &band : bands) {
        width = std::max(width, band.widthBytes * 8);
        height += band.rows;
    }
    QImage image(width, height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)}); // 1 is a printed dot
    image.fill(0);
    int top = 0;
    for (const Band &band : bands) {
        for (int row = 0; row < band.rows; ++row)
            std::memcpy(image.scanLine(top + row), band.dots.constData() + row * band.widthBytes,
                        size_t(band.widthBytes));
        top += band.rows;
    }
    return image;
}

QByteArray feedAndCut(Cut cut)
{
    switch (cut) {
    case Cut::Partial:
        return bytesOf({GS, 'V', char(66), char(0)}); // feed to the cutter, partial cut
    case Cut::Full:
        return bytesOf({GS, 'V', char(65), char(0)}); // feed to the cutter, full cut
    case Cut::None:
        break;
    }
    return bytesOf({ESC, 'd', char(6)}); // six lines: the ticket clears the tear bar
}

QByteArray statusRequest(int n)
{
    return bytesOf({DLE, EOT, char(n)});
}

PrinterState decode(const StatusReplies &replies)
{
    using C = PrinterState::Condition;
    for (const quint8 byte :
         {replies.printer, replies.offlineCause, replies.errorCause, replies.paper}) {
        if (!isStatusReply(byte))
            return state(C::Failed, QStringLiteral("risposta di stato non valida 0x%1")
                                        .arg(byte, 2, 16, QLatin1Char('0')));
    }
    const QString bytes = QStringLiteral("stato %1 %2 %3 %4")
                              .arg(replies.printer, 2, 16, QLatin1Char('0'))
                              .arg(replies.offlineCause, 2, 16, QLatin1Char('0'))
                              .arg(replies.errorCause, 2, 16, QLatin1Char('0'))
                              .arg(replies.paper, 2, 16, QLatin1Char('0'));
    if (replies.offlineCause & kCoverOpen)
        return state(C::CoverOpen, bytes);
    if ((replies.offlineCause & kStoppedByPaperEnd) || (replies.paper & kPaperEnd))
        return state(C::PaperOut, bytes);
    if (replies.errorCause & (kCutterError | kUnrecoverableError | kAutoRecoverableError) ||
        (replies.offlineCause & kErrorOccurred))
        return state(C::Failed, bytes);
    if (replies.printer & kOffline)
        return state(C::Failed, QStringLiteral("fuori linea, ") + bytes);
    if (replies.paper & kPaperNearEnd)
        return state(C::PaperNearEnd, bytes);
    return state(C::Ready, bytes);
}

QImage blankPage(const QSizeF &pageSizeMm, int dots)
{
    const double dotsPerMm = dots / pageSizeMm.width();
    QImage page(dots, int(std::lround(pageSizeMm.height() * dotsPerMm)), QImage::Format_Grayscale8);
    page.setDotsPerMeterX(int(std::lround(dotsPerMm * 1000)));
    page.setDotsPerMeterY(int(std::lround(dotsPerMm * 1000)));
    page.fill(Qt::white);
    return page;
}

} // namespace nx7::EscPos
