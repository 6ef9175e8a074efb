#pragma once

#include "errors.h"
#include "stationstate.h"
#include "stores.h"

#include <QStringList>

#include <array>
#include <functional>

namespace nx7 {

// How the day's numbering starts: the data work behind "C&onferma" of the start-up
// window, without the screen.
//
// Current numbering only reads the local "Numerazione". Initial numbering reads the
// local "NumerazioneIniziale", rewrites the twenty numbering files of the server folder
// and, unless the process has been through an unattended restart, empties the server
// queue and sets "Attesa" to 0 in the first twenty "Servizi" rows. It is all or nothing:
// everything is checked first, the previous files go into a journal (NumberingJournal)
// before anything changes, the database changes stay in one open transaction while the
// files are written, and a file that cannot be written puts the files already written
// back and rolls the transaction back; a power cut is undone from the journal at the
// next start.
class NumberingStart
{
public:
    using Counters = std::array<qint32, kSlotCount + 1>; // index 1..20
    // Replaces one numbering file atomically; tests put a failing one in its place.
    using NumberWriter = std::function<Status(const QString &path, qint32 value)>;

    struct Outcome
    {
        enum class Kind
        {
            Started,           // counters loaded (and the server prepared): show the screen
            ServerUnreachable, // the server database's folder is not a valid path (3044)
            ServerNotOpened,   // the server database did not open for another reason
            Failed,            // something is missing; nothing was changed
        };
        Kind kind = Kind::Started;
        Error error;
        // For Failed: the lines of the message that tells the operator what is missing.
        QStringList message;

        bool started() const { return kind == Kind::Started; }
    };

    // Points of the initial start at which a power cut is tried by the tests.
    enum class Stage
    {
        JournalWritten,
        QueueEmptied,
        WaitingReset,
        FileWritten,
        Committed
    };
    using StageHook = std::function<void(Stage)>;

    NumberingStart(const Stores &stores, StationState &state, NumberWriter writer = {});
    void setStageHook(StageHook hook) { m_stageHook = std::move(hook); }

    // "Carica la Numerazione Corrente": ServiceCounters from "Numerazione".
    Outcome loadCurrent();
    // "Carica la Numerazione Iniziale", attended or unattended after StationState.
    Outcome startInitial();

    // Fields "P1".."P20" of the first row of a local table. The error description says
    // what is missing in words an operator understands.
    Result<Counters> readCounters(const QString &table) const;

    // Rows of "Servizi" whose "Attesa" the last initial start set to 0.
    int servicesReset() const { return m_servicesReset; }

private:
    // Whether the installation shares its numbering, into the station's state.
    void readNumbering(Database &server);
    Outcome failed(const QString &title, const Error &error, int filesNotRestored = 0) const;

    void reached(Stage stage) const
    {
        if (m_stageHook)
            m_stageHook(stage);
    }

    Stores m_stores;
    StationState &m_state;
    NumberWriter m_writer;
    StageHook m_stageHook;
    int m_servicesReset = 0;
};

} // namespace nx7
