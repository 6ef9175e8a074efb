#include "printqueue.h"

#include "printerlog.h"
#include "printtarget.h"

#include <QLibrary>
#include <QUrl>

#include <cups/cups.h>

#include <memory>

namespace nx7::PrintQueue {

namespace {

constexpr int kStopped = 5;

// Reasons that stop a ticket even when the printer reports them as a warning or report.
const QStringList kBlockingReasons{
    QStringLiteral("paused"),           QStringLiteral("offline"),
    QStringLiteral("shutdown"),         QStringLiteral("stopped"),
    QStringLiteral("media-empty"),      QStringLiteral("media-needed"),
    QStringLiteral("media-jam"),        QStringLiteral("door-open"),
    QStringLiteral("cover-open"),       QStringLiteral("input-tray-missing"),
    QStringLiteral("output-area-full"), QStringLiteral("marker-supply-empty"),
    QStringLiteral("toner-empty"),      QStringLiteral("cups-missing-filter"),
};

// libcups and what it pulls in (TLS, Kerberos, Avahi) are loaded at the first question,
// not at start: a kiosk printing to PDF files, and the benchmark, never pay for them.
// Qt's own CUPS print plugin loads the same library when a ticket goes to a printer.
struct CupsApi
{
    decltype(&::ippNewRequest) newRequest = nullptr;
    decltype(&::ippAddString) addString = nullptr;
    decltype(&::ippAddStrings) addStrings = nullptr;
    decltype(&::cupsDoRequest) doRequest = nullptr;
    decltype(&::cupsLastError) lastError = nullptr;
    decltype(&::ippFindAttribute) findAttribute = nullptr;
    decltype(&::ippGetString) getString = nullptr;
    decltype(&::ippGetInteger) getInteger = nullptr;
    decltype(&::ippGetBoolean) getBoolean = nullptr;
    decltype(&::ippGetCount) getCount = nullptr;
    decltype(&::ippDelete) deleteIpp = nullptr;

    bool ok() const { return deleteIpp != nullptr; }

    static const CupsApi &get()
    {
        static const CupsApi api = load();
        return api;
    }

private:
    template <typename F> static bool resolve(QLibrary &library, const char *name, F &function)
    {
        function = reinterpret_cast<F>(library.resolve(name));
        return function != nullptr;
    }

    static CupsApi load()
    {
        static QLibrary library(QStringLiteral("cups"), 2); // never unloaded
        CupsApi api;
        CupsApi found;
        const bool all = resolve(library, "ippNewRequest", found.newRequest) &&
                         resolve(library, "ippAddString", found.addString) &&
                         resolve(library, "ippAddStrings", found.addStrings) &&
                         resolve(library, "cupsDoRequest", found.doRequest) &&
                         resolve(library, "cupsLastError", found.lastError) &&
                         resolve(library, "ippFindAttribute", found.findAttribute) &&
                         resolve(library, "ippGetString", found.getString) &&
                         resolve(library, "ippGetInteger", found.getInteger) &&
                         resolve(library, "ippGetBoolean", found.getBoolean) &&
                         resolve(library, "ippGetCount", found.getCount) &&
                         resolve(library, "ippDelete", found.deleteIpp);
        if (!all) {
            qCWarning(lcPrinter).noquote()
                << "print service library not usable:" << library.errorString();
            return api;
        }
        return found;
    }
};

struct IppDeleter
{
    void operator()(ipp_t *ipp) const { CupsApi::get().deleteIpp(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

QString baseOf(const QString &reason)
{
    for (const auto suffix : {QLatin1StringView("-error"), QLatin1StringView("-warning"),
                              QLatin1StringView("-report")}) {
        if (reason.endsWith(suffix))
            return reason.chopped(suffix.size());
    }
    return reason;
}

Error queueError(const QString &text)
{
    return Error::make(ErrorNumber::PrinterError, text);
}

} // namespace

Result<PrintQueueState> query(const QString &name)
{
    static const char *const kAttributes[] = {"printer-name", "printer-state",
                                              "printer-state-reasons", "printer-is-accepting-jobs"};
    const CupsApi &cups = CupsApi::get();
    if (!cups.ok())
        return queueError(QStringLiteral("Il servizio di stampa non è installato (libcups)"));
    ipp_t *request = nullptr;
    if (name.isEmpty()) {
        request = cups.newRequest(IPP_OP_CUPS_GET_DEFAULT);
    } else {
        const QByteArray uri = "ipp://localhost/printers/" + QUrl::toPercentEncoding(name);
        request = cups.newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        cups.addString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                       uri.constData());
    }
    cups.addStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                    int(std::size(kAttributes)), nullptr, kAttributes);
    // The connection to the local scheduler is kept open between tickets.
    const Ipp response(cups.doRequest(CUPS_HTTP_DEFAULT, request, "/"));
    const ipp_status_t status = cups.lastError();
    if (!response || status > IPP_STATUS_OK_EVENTS_COMPLETE) {
        if (status == IPP_STATUS_ERROR_NOT_FOUND && name.isEmpty())
            return Error::make(ErrorNumber::NoDefaultPrinter,
                               QStringLiteral("Nessuna stampante predefinita impostata"));
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return queueError(
                QStringLiteral("La stampante \"%1\" non esiste nel servizio di stampa").arg(name));
        // The library's own texts are English: the log keeps the IPP status number.
        if (!response || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE)
            return queueError(QStringLiteral("Il servizio di stampa non risponde (IPP 0x%1)")
                                  .arg(int(status), 4, 16, QLatin1Char('0')));
        return queueError(QStringLiteral("Il servizio di stampa ha rifiutato la richiesta per "
                                         "\"%1\" (IPP 0x%2)")
                              .arg(name)
                              .arg(int(status), 4, 16, QLatin1Char('0')));
    }

    PrintQueueState queue;
    queue.name = name;
    ipp_t *attributes = response.get();
    if (ipp_attribute_t *a = cups.findAttribute(attributes, "printer-name", IPP_TAG_NAME))
        queue.name = QString::fromUtf8(cups.getString(a, 0, nullptr));
    if (ipp_attribute_t *a = cups.findAttribute(attributes, "printer-state", IPP_TAG_ENUM))
        queue.state = cups.getInteger(a, 0);
    if (ipp_attribute_t *a =
            cups.findAttribute(attributes, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
        queue.acceptingJobs = cups.getBoolean(a, 0) != 0;
    if (ipp_attribute_t *a =
            cups.findAttribute(attributes, "printer-state-reasons", IPP_TAG_ZERO)) {
        for (int i = 0; i < cups.getCount(a); ++i)
            queue.reasons.append(QString::fromUtf8(cups.getString(a, i, nullptr)));
    }
    return queue;
}

QString unreadyReason(const PrintQueueState &queue)
{
    if (queue.state == kStopped)
        return QStringLiteral("la stampante \"%1\" è ferma").arg(queue.name);
    if (!queue.acceptingJobs)
        return QStringLiteral("la stampante \"%1\" non accetta stampe").arg(queue.name);
    for (const QString &reason : queue.reasons) {
        if (reason.endsWith(QLatin1StringView("-error")) ||
            kBlockingReasons.contains(baseOf(reason)))
            return QStringLiteral("la stampante \"%1\" segnala %2").arg(queue.name, reason);
    }
    return QString();
}

PrinterState stateOf(const PrintQueueState &queue)
{
    using C = PrinterState::Condition;
    const QString reason = unreadyReason(queue);
    const auto has = [&](std::initializer_list<const char *> names) {
        for (const QString &r : queue.reasons) {
            for (const char *name : names) {
                if (baseOf(r) == QLatin1StringView(name))
                    return true;
            }
        }
        return false;
    };
    if (!reason.isEmpty()) {
        if (has({"door-open", "cover-open"}))
            return PrinterState{C::CoverOpen, reason};
        if (has({"media-empty", "media-needed"}))
            return PrinterState{C::PaperOut, reason};
        if (has({"offline", "shutdown"}))
            return PrinterState{C::Unreachable, reason};
        return PrinterState{C::Failed, reason};
    }
    if (has({"media-low"}))
        return PrinterState{C::PaperNearEnd, queue.reasons.join(u' ')};
    return PrinterState{C::Ready, queue.name};
}

} // namespace nx7::PrintQueue
