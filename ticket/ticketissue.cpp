#include "ticketissue.h"

#include "clock.h"
#include "database.h"
#include "filenames.h"
#include "numberingfile.h"
#include "shell.h"
#include "stationstate.h"
#include "ticketlog.h"
#include "timedwait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>

#include <cmath>
#include <limits>

namespace nx7 {

namespace {

constexpr qint32 kMaxNumber = std::numeric_limits<qint32>::max();

Error overflow(const QString &what)
{
    qCWarning(lcTicket).noquote() << "overflow:" << what;
    return Error::make(ErrorNumber::Overflow);
}

QString reasonOf(const Error &error)
{
    switch (error.number) {
    case ErrorNumber::PathNotFound:
        return QStringLiteral("numbering folder or server not reachable (76)");
    case ErrorNumber::FileNotFound:
        return QStringLiteral("numbering file missing (53)");
    case ErrorNumber::PermissionDenied:
        return QStringLiteral("numbering file locked or not readable (70)");
    default:
        return QStringLiteral("error %1 %2").arg(error.number).arg(error.description);
    }
}

} // namespace

TicketIssue::TicketIssue(StationState &state, Shell &shell, Clock &clock, Waiter &waiter,
                         TicketPrinter &printer)
    : m_state(state), m_shell(shell), m_clock(clock), m_waiter(waiter), m_engine(printer),
      m_printJob(shell, m_engine)
{
}

void TicketIssue::IssueTicket(TicketScreen &screen, int slot)
{
    if (m_issuing) {
        // A touch that reached us while the screen was held: no second ticket.
        qCInfo(lcTicket) << "touch on slot" << slot << "ignored: a ticket is being issued";
        return;
    }
    if (m_shell.programEnded())
        return;
    if (slot < 1 || slot > kSlotCount) {
        qCWarning(lcTicket) << "touch on slot" << slot << "ignored: no such slot";
        return;
    }
    m_issuing = true;
    const auto done = qScopeGuard([this] { m_issuing = false; });

    screen.showWaitingPanel();
    screen.setScreenEnabled(false);

    const Result<Outcome> outcome = issue(screen, slot);
    if (!outcome) {
        // The program ends with the report; the screen stays held so that no further
        // ticket is issued meanwhile.
        m_shell.reportRuntimeError(screen.screenWindow(), outcome.error());
        return;
    }
    if (*outcome == Outcome::Issued) {
        // The print run may have re-enabled its parent window.
        screen.setScreenEnabled(false);
        if (m_state.waitMessageEnabled)
            m_waiter.wait(m_state.waitSeconds);
    }
    screen.hideWaitingPanel();
    screen.setScreenEnabled(true);
}

Result<TicketIssue::Outcome> TicketIssue::issue(TicketScreen &screen, int slot)
{
    TicketContext &ticket = screen.ticketContext();
    ticket.issuedServiceName = screen.buttonCaption(slot);
    ticket.issuedTime = m_clock.now().toString(QStringLiteral("hh.mm"));

    ticket.issuedNumber = ticket.slotNextNumber[slot];
    if (ticket.issuedNumber == kMaxNumber)
        return overflow(
            QStringLiteral("slot %1 has reached the last number %2").arg(slot).arg(kMaxNumber));
    ticket.slotNextNumber[slot] = ticket.issuedNumber + 1;
    if (Status status = advanceLocalCounter(slot, ticket.issuedNumber + 1); !status)
        return status.error();

    auto calling = readCallingNumber(slot);
    if (!calling) {
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket abandoned: slot %1, number %2 skipped, %3 (%4)")
                   .arg(slot)
                   .arg(ticket.issuedNumber)
                   .arg(reasonOf(calling.error()), QDir::toNativeSeparators(FilePath::numberingFile(
                                                       m_state.serverPath, slot)));
        return Outcome::Abandoned;
    }

    const double ahead = std::nearbyint(double(ticket.issuedNumber) - *calling);
    if (ahead > kMaxNumber || ahead < std::numeric_limits<qint32>::min())
        return overflow(QStringLiteral("people ahead of ticket %1 of slot %2")
                            .arg(ticket.issuedNumber)
                            .arg(slot));
    ticket.peopleAhead = qint32(ahead);

    const QVariant serviceId = ticket.slotServiceId[slot];
    if (Status status = updateWaitingCount(serviceId, ticket.peopleAhead); !status)
        return status.error();
    if (Status status = m_printJob.WritePrintRow(ticket); !status)
        return status.error();
    if (Status status = appendQueueRow(ticket, serviceId); !status)
        return status.error();
    qCInfo(lcTicket).noquote() << QStringLiteral("ticket %1 issued: slot %2, service %3 \"%4\", "
                                                 "%5 ahead")
                                      .arg(ticket.issuedNumber)
                                      .arg(slot)
                                      .arg(serviceId.toString(), ticket.issuedServiceName)
                                      .arg(ticket.peopleAhead);
    if (Status status = m_printJob.PrintTicket(screen.screenWindow()); !status)
        return status.error();
    return Outcome::Issued;
}

Status TicketIssue::advanceLocalCounter(int slot, qint32 nextNumber)
{
    auto db = Database::open(FilePath::local(FileName::LocalDatabase), Database::Sharing::Local);
    if (!db)
        return db.error();
    auto rows = RecordSet::openTable(*db, QStringLiteral("Numerazione"));
    if (!rows)
        return rows.error();
    if (Status status = rows->edit(); !status)
        return status;
    if (Status status = rows->setValue(QStringLiteral("P%1").arg(slot), nextNumber); !status)
        return status;
    return rows->update();
}

Result<double> TicketIssue::readCallingNumber(int slot)
{
    const QString path = FilePath::numberingFile(m_state.serverPath, slot);
    QElapsedTimer waited;
    waited.start();
    for (int attempt = 1;; ++attempt) {
        auto calling = NumberingFile::readCallingNumber(path);
        if (calling || calling.errorNumber() != ErrorNumber::PermissionDenied)
            return calling;
        if (m_shell.programEnded()) {
            // The waits no longer wait once the program ends: stop instead of spinning.
            qCInfo(lcTicket).noquote() << "numbering file" << QDir::toNativeSeparators(path)
                                       << "no longer waited for: the program is ending";
            return calling;
        }
        if (waited.elapsed() >= m_lockRetry.limit.count()) {
            qCWarning(lcTicket).noquote()
                << "numbering file" << QDir::toNativeSeparators(path) << "still locked after"
                << attempt << "attempts in" << waited.elapsed() << "ms";
            return calling;
        }
        if (attempt == 1)
            qCInfo(lcTicket).noquote() << "numbering file" << QDir::toNativeSeparators(path)
                                       << "locked by another station: retrying";
        // Other events go on meanwhile; the screen is held, so no new touch arrives.
        waitMilliseconds(m_lockRetry.pause.count());
    }
}

Status TicketIssue::updateWaitingCount(const QVariant &serviceId, qint32 peopleAhead)
{
    if (peopleAhead == kMaxNumber)
        return overflow(QStringLiteral("waiting count of service %1").arg(serviceId.toString()));
    auto db = Database::open(FilePath::server(m_state.serverPath, FileName::ServerDatabase),
                             Database::Sharing::Shared);
    if (!db)
        return db.error();
    auto services = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    if (!services)
        return services.error();
    auto found = services->findFirst(QStringLiteral("ID"), serviceId);
    if (!found)
        return found.error();
    if (!*found) {
        // Never another service's row: the count stays as it is, the ticket goes on.
        qCWarning(lcTicket).noquote()
            << QStringLiteral("service ID \"%1\" not found in Servizi: waiting count not updated")
                   .arg(serviceId.toString());
        return {};
    }
    if (Status status = services->edit(); !status)
        return status;
    if (Status status = services->setValue(QStringLiteral("Attesa"), peopleAhead + 1); !status)
        return status;
    return services->update();
}

Status TicketIssue::appendQueueRow(const TicketContext &ticket, const QVariant &serviceId)
{
    auto db = Database::open(FilePath::server(m_state.serverPath, FileName::ServerDatabase),
                             Database::Sharing::Shared);
    if (!db)
        return db.error();
    // Appended without reading the queue, which grows all day long.
    return db->insert(
        QStringLiteral("Codafromtotem"),
        {
            {QStringLiteral("ServizioID"), serviceId},
            {QStringLiteral("SErvizio"), ticket.issuedServiceName},
            {QStringLiteral("Ora"), m_clock.now().toString(QStringLiteral("hh.mm.ss"))},
            {QStringLiteral("SeChiamato"), false},
            {QStringLiteral("NrDaChiamare"), ticket.issuedNumber},
        });
}

} // namespace nx7
