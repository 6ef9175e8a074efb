#pragma once

#include <QString>

#include <array>

namespace nx7 {

// Slots tie a service button, a column "Pn" and a numbering file together.
constexpr int kSlotCount = 20;

// The process-wide values of the kiosk, handed to the forms that use them.
struct StationState
{
    QString serverPath;
    bool waitMessageEnabled = false;
    qint32 waitSeconds = 0;
    // Index 1..20; element 0 is unused so that slot n is serviceCounters[n].
    std::array<qint32, kSlotCount + 1> serviceCounters{};
    bool restartRequested = false;
    bool unattendedRestart = false; // never cleared once set
    // The missing-background message is shown once per run: a nightly restart must not
    // leave the kiosk waiting for someone to close it.
    bool backgroundWarningShown = false;
    // Where the numbers come from, as the server's switch read at the start said: Unknown
    // until it could be read, so that a kiosk never numbers on its own while its
    // installation shares the numbering.
    enum class Numbering
    {
        Unknown,
        Local,
        Shared
    };
    Numbering numbering = Numbering::Unknown;
};

} // namespace nx7
