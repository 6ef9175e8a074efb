#include "ticketissue.h"

#include "clock.h"
#include "database.h"
#include "filenames.h"
#include "logtext.h"
#include "numberingfile.h"
#include "sharednumbering.h"
#include "shell.h"
#include "stationstate.h"
#include "storefailure.h"
#include "ticketlog.h"
#include "ticketstore.h"
#include "timedwait.h"
#include "waitestimator.h"

#include <QDir>
#include <QScopeGuard>

#include <algorithm>
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

// The number was used the moment the local counter advanced: whatever a counter station
// wrote into its numbering file, the ticket is issued, queued and printed, so that no
// number goes missing from the queue. A value no 32-bit number can hold is no calling
// number (read as 0, as a text that does not begin with a number), and the people ahead
// stay where the waiting count, one more, still fits.
qint32 peopleAhead(qint32 issuedNumber, double calling, int slot, const QString &file)
{
    constexpr double kLowest = std::numeric_limits<qint32>::min();
    if (!(calling >= kLowest && calling <= kMaxNumber)) {
        qCWarning(lcTicket).noquote()
            << "numbering file" << QDir::toNativeSeparators(file) << "holds" << calling
            << ", beyond a 32-bit number: read as 0";
        calling = 0;
    }
    const double ahead = std::nearbyint(double(issuedNumber) - calling);
    const double clamped = std::clamp(ahead, kLowest, double(kMaxNumber - 1));
    if (clamped != ahead)
        qCWarning(lcTicket).noquote()
            << QStringLiteral("people ahead of ticket %1 of slot %2 (%3) kept at %4: numbering "
                              "file %5")
                   .arg(issuedNumber)
                   .arg(slot)
                   .arg(ahead, 0, 'f', 0)
                   .arg(clamped, 0, 'f', 0)
                   .arg(QDir::toNativeSeparators(file));
    return qint32(clamped);
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

// How the server answered a step that ended with `errorNumber` (0 when it succeeded);
// `busyNumber` is the failure that still means an answer (a lock held by a station).
IssueObserver::ServerAnswer answerOf(int errorNumber, int busyNumber)
{
    if (errorNumber == 0 || errorNumber == busyNumber)
        return IssueObserver::ServerAnswer::Reached;
    if (errorNumber == ErrorNumber::NoPermission)
        return IssueObserver::ServerAnswer::Refused;
    return IssueObserver::ServerAnswer::Unreachable;
}

} // namespace

TicketIssue::TicketIssue(const Stores &stores, StationState &state, Shell &shell, Clock &clock,
                         Waiter &waiter, Printers &printers, WaitEstimator *waitEstimator)
    : m_stores(stores), m_state(state), m_shell(shell), m_clock(clock), m_waiter(waiter),
      m_engine(printers), m_printJob(stores, shell, m_engine),
      m_monitor([this] { return m_engine.printerState(FileName::TicketLayout); }),
      m_waitEstimator(waitEstimator)
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
    const auto done = qScopeGuard([this] {
        m_issuing = false;
        m_holding = false;
    });

    screen.showWaitingPanel();
    screen.setScreenEnabled(false);

    const Result<Outcome> outcome = issue(screen, slot);
    if (!outcome) {
        // The program ends with the report; the screen stays held so that no further
        // ticket is issued meanwhile.
        m_shell.reportRuntimeError(screen.screenWindow(), outcome.error());
        return;
    }
    if (outcome->issued) {
        // The print run may have re-enabled its parent window.
        screen.setScreenEnabled(false);
        if (outcome->notice.isEmpty())
            screen.ticketPrinted();
        // A ticket that did not come out is not waited for: the customer is told at once.
        if (m_state.waitMessageEnabled && outcome->notice.isEmpty())
            hold(m_state.waitSeconds);
    }
    screen.hideWaitingPanel();
    screen.setScreenEnabled(true);
    if (!outcome->notice.isEmpty())
        screen.showNotice(outcome->notice);
}

void TicketIssue::hold(qint32 seconds)
{
    m_holding = true;
    m_waiter.wait(seconds);
    m_holding = false;
}

void TicketIssue::endHold()
{
    if (!m_holding)
        return;
    qCInfo(lcTicket) << "post-ticket hold ended early";
    m_waiter.interrupt();
}

TicketIssue::Outcome TicketIssue::refuse(int slot, IssueObserver::Refusal reason,
                                         const QString &notice)
{
    m_observer->ticketRefused(slot, reason);
    return Outcome{false, notice};
}

Result<TicketIssue::Outcome> TicketIssue::abandon(const Error &error, int slot,
                                                  const QString &numberFate, const QString &step,
                                                  IssueObserver::Refusal reason)
{
    const bool local = step.startsWith(QLatin1StringView("local"));
    // The station's own database that takes no write (gone, read-only, broken) puts no box
    // over the kiosk screen: the customer is told, the operator finds it in the log.
    if (!local && storeFailureOf(error.number) == StoreFailure::Broken)
        return error;
    qCWarning(lcTicket).noquote() << QStringLiteral("ticket abandoned: slot %1, %2, %3: %4 (%5)")
                                         .arg(slot)
                                         .arg(numberFate, step)
                                         .arg(error.number)
                                         .arg(error.description);
    return refuse(slot, reason, local ? OutOfOrderNotice : BusyNotice);
}

Result<TicketIssue::Outcome> TicketIssue::issue(TicketScreen &screen, int slot)
{
    TicketContext &ticket = screen.ticketContext();
    ticket.issuedServiceName = screen.buttonCaption(slot);
    ticket.issuedTime = m_clock.now().toString(QStringLiteral("hh.mm"));

    // A ticket that cannot come out is never numbered, recorded or called.
    const Status printable = m_printJob.checkPrintable();
    if (!printable) {
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket refused: slot %1, no number used (%2 stays next): %3")
                   .arg(slot)
                   .arg(ticket.slotNextNumber[slot])
                   .arg(printable.error().description);
        return refuse(slot, IssueObserver::Refusal::PrinterUnavailable, PrinterNotice);
    }

    auto shared = sharedNumbering();
    if (!shared) {
        m_observer->serverAnswered(answerOf(shared.errorNumber(), ErrorNumber::DatabaseLocked));
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket refused: slot %1, no number used: the server does not say "
                              "whether the numbering is shared: %2")
                   .arg(slot)
                   .arg(shared.error().description);
        return refuse(slot, IssueObserver::Refusal::ServerUnavailable, BusyNotice);
    }
    auto numbered = *shared ? numberOnServer(ticket, slot) : numberLocally(ticket, slot);
    if (!numbered || !numbered->issued)
        return numbered;
    m_observer->ticketIssued(slot);
    qCInfo(lcTicket).noquote() << QStringLiteral("ticket %1 issued: slot %2, service %3 \"%4\", "
                                                 "%5 ahead")
                                      .arg(ticket.issuedNumber)
                                      .arg(slot)
                                      .arg(ticket.slotServiceId[slot].toString(),
                                           LogText::escaped(ticket.issuedServiceName))
                                      .arg(ticket.peopleAhead);
    if (!numbered->notice.isEmpty()) {
        m_observer->ticketNotPrinted(slot);
        return numbered;
    }
    return print(screen, ticket, slot);
}

Result<bool> TicketIssue::sharedNumbering()
{
    using Numbering = StationState::Numbering;
    if (m_state.numbering != Numbering::Unknown)
        return m_state.numbering == Numbering::Shared;
    auto on = SharedNumbering::isOn(m_stores, m_state.serverPath);
    if (!on)
        return on.error();
    m_state.numbering = *on ? Numbering::Shared : Numbering::Local;
    return *on;
}

// The wait the ticket tells, from the counters' pace, once its number and the people ahead
// are known; none when the station does not estimate or the pace is not known.
void TicketIssue::estimateWait(TicketContext &ticket, int slot)
{
    ticket.estimatedWait.reset();
    if (m_waitEstimator) {
        m_waitEstimator->ticketIssued(slot, ticket.issuedNumber);
        ticket.estimatedWait = m_waitEstimator->estimate(slot, ticket.peopleAhead);
        m_observer->waitEstimated(slot, ticket.estimatedWait);
    }
    m_printJob.setEstimatedWait(WaitEstimateText::printed(ticket.estimatedWait));
}

Result<TicketIssue::Outcome> TicketIssue::numberLocally(TicketContext &ticket, int slot)
{
    ticket.issuedNumber = ticket.slotNextNumber[slot];
    if (ticket.issuedNumber == kMaxNumber)
        return overflow(
            QStringLiteral("slot %1 has reached the last number %2").arg(slot).arg(kMaxNumber));
    const QString skipped = QStringLiteral("number %1 skipped").arg(ticket.issuedNumber);
    // The counter in memory never runs ahead of the stored one.
    if (Status status = TicketStore::advanceCounter(m_stores, slot, ticket.issuedNumber + 1);
        !status)
        return abandon(status.error(), slot,
                       QStringLiteral("number %1 not used").arg(ticket.issuedNumber),
                       QStringLiteral("local database Numerazione"),
                       IssueObserver::Refusal::LocalDatabaseFailed);
    ticket.slotNextNumber[slot] = ticket.issuedNumber + 1;

    auto calling = readCallingNumber(slot);
    m_observer->serverAnswered(answerOf(calling.errorNumber(), ErrorNumber::PermissionDenied));
    if (!calling) {
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket abandoned: slot %1, %2, %3 (%4)")
                   .arg(slot)
                   .arg(
                       skipped, reasonOf(calling.error()),
                       QDir::toNativeSeparators(FilePath::numberingFile(m_state.serverPath, slot)));
        return refuse(slot, IssueObserver::Refusal::NumberingFileUnavailable, BusyNotice);
    }

    ticket.peopleAhead = peopleAhead(ticket.issuedNumber, *calling, slot,
                                     FilePath::numberingFile(m_state.serverPath, slot));
    estimateWait(ticket, slot);
    if (Status status = m_printJob.WritePrintRow(ticket); !status)
        return abandon(status.error(), slot, skipped,
                       QStringLiteral("local database DatiDaStampare"),
                       IssueObserver::Refusal::LocalDatabaseFailed);
    const Status recorded = recordOnServer(ticket, ticket.slotServiceId[slot]);
    m_observer->serverAnswered(answerOf(recorded.errorNumber(), ErrorNumber::DatabaseLocked));
    if (!recorded)
        return abandon(recorded.error(), slot, skipped,
                       QStringLiteral("server database (Attesa and Codafromtotem not written)"),
                       IssueObserver::Refusal::ServerUnavailable);
    return Outcome{true, QString()};
}

Result<TicketIssue::Outcome> TicketIssue::numberOnServer(TicketContext &ticket, int slot)
{
    // Read before the number is taken, so that a locked or missing file costs no number.
    auto calling = readCallingNumber(slot);
    m_observer->serverAnswered(answerOf(calling.errorNumber(), ErrorNumber::PermissionDenied));
    const QString file = FilePath::numberingFile(m_state.serverPath, slot);
    if (!calling) {
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket abandoned: slot %1, no shared number used, %2 (%3)")
                   .arg(slot)
                   .arg(reasonOf(calling.error()), QDir::toNativeSeparators(file));
        return refuse(slot, IssueObserver::Refusal::NumberingFileUnavailable, BusyNotice);
    }
    const TicketStore::QueuedTicket queued{ticket.slotServiceId[slot], ticket.issuedServiceName,
                                           m_clock.now().toString(QStringLiteral("hh.mm.ss"))};
    const auto waitingFor = [&](qint32 number) {
        return peopleAhead(number, *calling, slot, file) + 1;
    };
    auto recorded = TicketStore::recordSharedOnServer(m_stores, m_state.serverPath, queued,
                                                      waitingFor, lcTicket);
    m_observer->serverAnswered(answerOf(recorded.errorNumber(), ErrorNumber::DatabaseLocked));
    if (!recorded)
        return abandon(recorded.error(), slot, QStringLiteral("no shared number used"),
                       QStringLiteral("server database (shared number, Attesa and "
                                      "Codafromtotem not written)"),
                       IssueObserver::Refusal::ServerUnavailable);
    ticket.issuedNumber = recorded->number;
    ticket.peopleAhead = recorded->waiting - 1;
    // The station's own counter follows, so that switching the sharing off goes on from here.
    if (recorded->number < kMaxNumber) {
        ticket.slotNextNumber[slot] = recorded->number + 1;
        if (Status status = TicketStore::advanceCounter(m_stores, slot, recorded->number + 1);
            !status)
            qCWarning(lcTicket).noquote()
                << QStringLiteral("shared number %1 of slot %2: local Numerazione not written: %3")
                       .arg(recorded->number)
                       .arg(slot)
                       .arg(status.error().description);
    }
    estimateWait(ticket, slot);
    if (Status status = m_printJob.WritePrintRow(ticket); !status) {
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket %1 of slot %2 recorded but not printed: print row: %3")
                   .arg(recorded->number)
                   .arg(slot)
                   .arg(status.error().description);
        return Outcome{true, NotPrintedNotice};
    }
    return Outcome{true, QString()};
}

Result<TicketIssue::Outcome> TicketIssue::print(TicketScreen &screen, const TicketContext &ticket,
                                                int slot)
{
    if (Status status = m_printJob.PrintTicket(screen.screenWindow()); !status) {
        if (storeFailureOf(status.errorNumber()) == StoreFailure::Broken)
            return status.error();
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket %1 of slot %2 recorded but not printed: %3")
                   .arg(ticket.issuedNumber)
                   .arg(slot)
                   .arg(status.error().description);
        m_observer->ticketNotPrinted(slot);
        return Outcome{true, NotPrintedNotice};
    }
    if (!m_printJob.lastTicketPrinted()) {
        qCWarning(lcTicket).noquote()
            << QStringLiteral("ticket %1 of slot %2 recorded but not printed%3")
                   .arg(ticket.issuedNumber)
                   .arg(slot)
                   .arg(m_engine.lastFailure().isEmpty()
                            ? QString()
                            : QStringLiteral(": ") + m_engine.lastFailure());
        m_observer->ticketNotPrinted(slot);
        return Outcome{true, NotPrintedNotice};
    }
    return Outcome{true, QString()};
}

Result<double> TicketIssue::readCallingNumber(int slot)
{
    const QString path = FilePath::numberingFile(m_state.serverPath, slot);
    SharedFile::LockWait wait;
    wait.pause = m_lockRetry.pause;
    wait.limit = m_lockRetry.limit;
    wait.answerLimit = m_lockRetry.limit; // a share that does not answer counts as locked
    // Other events go on meanwhile; the screen is held, so no new touch arrives.
    wait.pauseFor = [this, &path](std::chrono::milliseconds pause) {
        if (m_shell.programEnded()) {
            // The waits no longer wait once the program ends: stop instead of spinning.
            qCInfo(lcTicket).noquote() << "numbering file" << QDir::toNativeSeparators(path)
                                       << "no longer waited for: the program is ending";
            return false;
        }
        waitMilliseconds(pause.count());
        return true;
    };
    return NumberingFile::readCallingNumber(path, wait);
}

Status TicketIssue::recordOnServer(const TicketContext &ticket, const QVariant &serviceId)
{
    const TicketStore::QueuedTicket queued{serviceId, ticket.issuedServiceName,
                                           m_clock.now().toString(QStringLiteral("hh.mm.ss")),
                                           ticket.issuedNumber};
    return TicketStore::recordOnServer(m_stores, m_state.serverPath, queued, ticket.peopleAhead + 1,
                                       lcTicket);
}

} // namespace nx7
