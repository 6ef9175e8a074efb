#pragma once

#include "errors.h"
#include "stores.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

namespace nx7 {

// The journal of an initial numbering start, kept in the station folder so that a power
// cut in the middle of it leaves nothing half done. Written and flushed before anything
// changes, removed once the start has committed; a journal found at the next start
// means the start was cut off, and its files are made to agree with the server database
// again before anything else runs.
class NumberingJournal
{
public:
    struct File
    {
        QString path;
        std::optional<QByteArray> previous; // none: the file did not exist
        qint32 value = 0;                   // what the start writes into it
    };

    // What tells, after a cut, whether the server's transaction was committed: the first
    // queued ticket before the start, its fields Field::QueueTicket. The committed start deleted
    // it; a rolled-back one left it where it was. Empty when the queue was empty or not to be
    // emptied.
    QString serverDatabase;
    QVariantList firstQueuedTicket;
    QList<File> files;

    static QString fileName(); // "NumerazioneIniziale.journal", in the station folder

    Status write(const Stores &stores) const;
    static void remove(const Stores &stores);
    static Result<std::optional<NumberingJournal>> read(const Stores &stores);

    // Puts the files back (start not committed) or finishes writing them (committed),
    // then removes the journal. Returns whether a journal was found; the description of
    // an error is the operator's short reason why the journal stays.
    static Result<bool> recover(const Stores &stores);
};

} // namespace nx7
