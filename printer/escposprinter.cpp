#include "escposprinter.h"

#include "printerlog.h"
#include "printtarget.h"

#include <QElapsedTimer>
#include <QPainter>

#include <array>

namespace nx7 {

EscPosPrinter::EscPosPrinter(EscPos::Settings settings, LinkOpener open)
    : m_settings(std::move(settings)), m_open(std::move(open))
{
}

EscPosPrinter::~EscPosPrinter() = default;

Result<EscPosLink *> EscPosPrinter::link()
{
    if (m_link)
        return m_link.get();
    auto fresh = m_open(m_settings, m_timeouts.connectMs);
    if (!fresh)
        return fresh.error();
    m_link = std::move(*fresh);
    m_linkUsed = false;
    return m_link.get();
}

std::optional<EscPos::StatusReplies> EscPosPrinter::exchange(EscPosLink &link, int replyMs,
                                                             QString *problem, bool *flooding)
{
    switch (link.drain()) {
    case EscPosLink::Drained::Closed:
        *problem = QStringLiteral("la stampante ha chiuso la connessione");
        return std::nullopt;
    case EscPosLink::Drained::Flooding:
        *flooding = true;
        *problem = QStringLiteral("la linea invia dati senza sosta (disturbi o dispositivo "
                                  "sbagliato)");
        return std::nullopt;
    case EscPosLink::Drained::Quiet:
        break;
    }
    std::array<quint8, 4> replies{};
    for (int n = 1; n <= 4; ++n) {
        if (Status sent = link.write(EscPos::statusRequest(n), replyMs); !sent) {
            *problem = sent.error().description;
            return std::nullopt;
        }
        bool closed = false;
        const auto reply = link.readByte(replyMs, &closed);
        if (!reply) {
            *problem = closed ? QStringLiteral("la stampante ha chiuso la connessione")
                              : QStringLiteral("nessuna risposta a DLE EOT %1 entro %2 ms")
                                    .arg(n)
                                    .arg(replyMs);
            return std::nullopt;
        }
        replies[size_t(n - 1)] = *reply;
    }
    return EscPos::StatusReplies{replies[0], replies[1], replies[2], replies[3]};
}

PrinterState EscPosPrinter::state()
{
    // A connection kept from before may have died with the printer's restart: one more
    // try on a fresh one before the printer is called unreachable.
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto open = link();
        if (!open)
            return PrinterState{PrinterState::Condition::Unreachable, open.error().description};
        const bool wasUsed = m_linkUsed;
        bool lost = false;
        const PrinterState now = askOn(**open, m_timeouts.replyMs, &lost);
        if (!lost || !wasUsed)
            return now;
    }
    return PrinterState{PrinterState::Condition::Unreachable, m_settings.address};
}

PrinterState EscPosPrinter::askOn(EscPosLink &link, int replyMs, bool *lost)
{
    QString problem;
    bool flooding = false;
    const auto replies = exchange(link, replyMs, &problem, &flooding);
    if (replies) {
        m_linkUsed = true;
        return EscPos::decode(*replies);
    }
    // The link is closed at once: the next question starts on a fresh one.
    m_link.reset();
    *lost = !flooding;
    return PrinterState{flooding ? PrinterState::Condition::Failed
                                 : PrinterState::Condition::Unreachable,
                        QStringLiteral("%1: %2").arg(m_settings.address, problem)};
}

Status EscPosPrinter::send(const QByteArray &bytes)
{
    auto open = link();
    if (!open)
        return open.error();
    Status sent = (*open)->write(bytes, m_timeouts.stallMs);
    if (!sent) {
        m_link.reset();
        return Error::make(ErrorNumber::PrinterError,
                           QStringLiteral("connessione persa durante l'invio del ticket: %1")
                               .arg(sent.error().description));
    }
    m_linkUsed = true;
    return {};
}

Status EscPosPrinter::ready()
{
    const PrinterState now = state();
    if (now.canPrint())
        return {};
    return Error::make(ErrorNumber::PrinterError,
                       QStringLiteral("%1 (%2)").arg(now.text(), now.detail));
}

QByteArray EscPosPrinter::ticketBytes(const EscPos::Settings &settings, const QSizeF &pageSizeMm,
                                      int pageCount, const PagePainter &paintPage)
{
    QByteArray bytes;
    for (int page = 0; page < pageCount; ++page) {
        QImage image = EscPos::blankPage(pageSizeMm, settings.dots);
        QPainter painter(&image);
        paintPage(painter, page);
        painter.end();
        bytes += EscPos::initialize() + EscPos::raster(image) + EscPos::feedAndCut(settings.cut);
    }
    return bytes;
}

Status EscPosPrinter::print(const QSizeF &pageSizeMm, int pageCount, const QString &,
                            const PagePainter &paintPage)
{
    m_lastBytes = 0;
    m_afterCut = PrinterState{};
    QElapsedTimer rendering;
    rendering.start();
    const QByteArray bytes = ticketBytes(m_settings, pageSizeMm, pageCount, paintPage);
    m_lastRenderMs = double(rendering.nsecsElapsed()) / 1e6;
    if (Status sent = send(bytes); !sent)
        return sent;
    m_lastBytes = bytes.size();
    // Asked on the connection that carried the ticket, never on a fresh one: a printer
    // that dropped it in mid-ticket answers "ready" to a new connection without having
    // cut anything.
    EscPosLink &carrier = *m_link;
    bool lost = false;
    m_afterCut = askOn(carrier, m_timeouts.afterCutMs + carrier.lineDelayMs(), &lost);
    if (lost)
        return Error::make(ErrorNumber::PrinterError,
                           QStringLiteral("connessione persa o muta dopo l'invio del ticket (%1 "
                                          "byte): %2")
                               .arg(bytes.size())
                               .arg(m_afterCut.detail));
    if (!m_afterCut.canPrint())
        return Error::make(ErrorNumber::PrinterError,
                           QStringLiteral("dopo il taglio la stampante riferisce: %1 (%2)")
                               .arg(m_afterCut.text(), m_afterCut.detail));
    qCInfo(lcPrinter).noquote() << "ticket sent to receipt printer" << m_settings.address;
    return {};
}

} // namespace nx7
