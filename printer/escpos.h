#pragma once

#include "printerstate.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

// The few ESC/POS commands a ticket needs, from the command references that receipt
// printer makers publish: initialise, raster image, feed and cut, real-time status.
namespace nx7::EscPos {

enum class Cut
{
    Partial,
    Full,
    None
};

// "output escpos TARGET [dots=N] [cut=partial|full|none] [baud=B]" of the layout file.
struct Settings
{
    QString address; // tcp://HOST:PORT or a character device
    int dots = 576;  // printable width: 72 mm at 8 dots/mm
    Cut cut = Cut::Partial;
    int baud = 9600; // serial ports only

    bool isNetwork() const { return address.startsWith(QLatin1StringView("tcp://")); }
    // HOST and PORT of a tcp:// address; nullopt when it has none.
    std::optional<std::pair<QString, quint16>> hostAndPort() const;
};

// The settings written after "output escpos"; nullopt, and the reason, when they are wrong.
std::optional<Settings> parseSettings(const QString &text, QString *problem = nullptr);

constexpr int kMaxBandRows = 255;

QByteArray initialize();
// The image as GS v 0 raster, in bands of at most 255 rows; a pixel darker than middle
// grey is a printed dot. The image must be as wide as the printable width or narrower.
// A lone dot is left out where its byte would start a real-time command (DLE EOT, ENQ, DC4).
QByteArray raster(const QImage &image);
// The dots of every GS v 0 band in `bytes`, one band under the other, as a one-bit image
// (black where a dot is printed): what a receipt printer makes of them. Other commands are
// skipped; a band cut short ends the image.
QImage rasterImage(const QByteArray &bytes);
// The feed to the cutter and the cut (or only the feed with Cut::None).
QByteArray feedAndCut(Cut cut);
// DLE EOT n, n = 1 (printer), 2 (off-line cause), 3 (error cause), 4 (paper sensor).
QByteArray statusRequest(int n);

// Every reply to DLE EOT has bits 1 and 4 set and bits 0 and 7 clear.
constexpr bool isStatusReply(quint8 byte)
{
    return (byte & 0x93) == 0x12;
}

// The replies to DLE EOT 1..4, in that order.
struct StatusReplies
{
    quint8 printer = 0x12;
    quint8 offlineCause = 0x12;
    quint8 errorCause = 0x12;
    quint8 paper = 0x12;
};
PrinterState decode(const StatusReplies &replies);

// A page of `pageSizeMm` at the printer's resolution: `dots` wide, white, with the
// resolution set so that millimetres map onto it.
QImage blankPage(const QSizeF &pageSizeMm, int dots);

} // namespace nx7::EscPos
