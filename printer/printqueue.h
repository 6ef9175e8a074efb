#pragma once

#include "errors.h"
#include "printerstate.h"

#include <QString>
#include <QStringList>

namespace nx7 {

// A print queue of the print service (CUPS) as it reports itself.
struct PrintQueueState
{
    QString name;
    int state = 3;             // printer-state: 3 idle, 4 printing, 5 stopped
    bool acceptingJobs = true; // printer-is-accepting-jobs
    QStringList reasons;       // printer-state-reasons ("none" when all is well)
};

namespace PrintQueue {

// Asks the print service for the queue called `name`, or for its default queue when the
// name is empty. Errors (482) when the service does not answer or knows no such queue.
Result<PrintQueueState> query(const QString &name);

// Why a ticket sent to the queue now would not come out; empty when it would. A stopped
// or rejecting queue, a pause, and any state reason that is an error or means that the
// printer is off line, out of paper or open.
QString unreadyReason(const PrintQueueState &queue);

// The queue's state for the kiosk screen: the reason that stops it (paper, cover, off line,
// anything else) or, when it prints, whether its paper is running low ("media-low").
PrinterState stateOf(const PrintQueueState &queue);

} // namespace PrintQueue
} // namespace nx7
