#include "printqueue.h"

#include "ticketlog.h"
#include "ticketprinter.h"

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

struct IppDeleter
{
    void operator()(ipp_t *ipp) const { ippDelete(ipp); }
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
    ipp_t *request = nullptr;
    if (name.isEmpty()) {
        request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    } else {
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                         "/printers/%s", name.toUtf8().constData());
        request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    }
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(std::size(kAttributes)), nullptr, kAttributes);
    // The connection to the local scheduler is kept open between tickets.
    const Ipp response(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"));
    const ipp_status_t status = cupsLastError();
    if (!response || status > IPP_STATUS_OK_EVENTS_COMPLETE) {
        if (status == IPP_STATUS_ERROR_NOT_FOUND)
            return queueError(name.isEmpty()
                                  ? QStringLiteral("Nessuna stampante predefinita impostata")
                                  : QStringLiteral("La stampante \"%1\" non esiste nel servizio "
                                                   "di stampa")
                                        .arg(name));
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
    if (ipp_attribute_t *a = ippFindAttribute(attributes, "printer-name", IPP_TAG_NAME))
        queue.name = QString::fromUtf8(ippGetString(a, 0, nullptr));
    if (ipp_attribute_t *a = ippFindAttribute(attributes, "printer-state", IPP_TAG_ENUM))
        queue.state = ippGetInteger(a, 0);
    if (ipp_attribute_t *a =
            ippFindAttribute(attributes, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
        queue.acceptingJobs = ippGetBoolean(a, 0) != 0;
    if (ipp_attribute_t *a = ippFindAttribute(attributes, "printer-state-reasons", IPP_TAG_ZERO)) {
        for (int i = 0; i < ippGetCount(a); ++i)
            queue.reasons.append(QString::fromUtf8(ippGetString(a, i, nullptr)));
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

} // namespace nx7::PrintQueue
