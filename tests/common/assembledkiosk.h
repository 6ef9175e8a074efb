#pragma once

#include "fakespeechengine.h"
#include "kioskassembly.h"
#include "previousinstance.h"
#include "tempinstallation.h"
#include "testshell.h"

#include <QTemporaryDir>

namespace nx7::test {

// The kiosk as the program puts it together, on a temporary installation, with a test's
// clock, pause and printers, a recording desktop and a recording voice.
class AssembledKiosk
{
public:
    AssembledKiosk(const TempInstallation &installation, Clock &clock, Waiter &waiter,
                   Printers &printers)
        : m_lock(m_lockDir.filePath(QStringLiteral("nx7totem.lock"))),
          kiosk(installation.stationPath(),
                {shell, clock, waiter, printers, m_lock,
                 [this](const SpeechSettings &) { return &voice; }},
                QStringLiteral("test"))
    {
        kiosk.state().serverPath = installation.serverPath();
    }

    TestShell shell;
    FakeSpeechEngine voice;

private:
    QTemporaryDir m_lockDir;
    MachineInstanceLock m_lock;

public:
    KioskAssembly kiosk;
};

} // namespace nx7::test
