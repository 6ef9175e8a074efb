#pragma once

#include "serverbackend.h"
#include "stationstate.h"
#include "tempinstallation.h"
#include "testshell.h"

#include <QTest>

#include <memory>

namespace nx7::test {

// A station on a temporary installation whose server database is on the running test's backend,
// with the state that names its server and the test desktop and clock that the start-up
// window, the kiosk screen and the ticket issue take. A station that could not be installed
// fails the test at once.
struct StationFixture
{
    explicit StationFixture(const Installation::ServerOptions &options = {})
        : StationFixture(ServerBackend::install(ServerBackend::current(), options))
    {
    }
    // A station on an installation the test made itself (a server of its own).
    explicit StationFixture(std::unique_ptr<TempInstallation> made)
        : installed(std::move(made)), installation(*installed)
    {
        state.serverPath = installation.serverPath();
        if (!installation.ok()) // recorded here, for every test that builds a station
            QTest::qFail(qPrintable(installation.error()), __FILE__, __LINE__);
    }

    bool ready() const { return installation.ok(); }

    std::unique_ptr<TempInstallation> installed;
    TempInstallation &installation;
    StationState state;
    TestShell shell;
    TestClock clock;
};

// Server options with that many active services and that screen resolution.
inline Installation::ServerOptions serverOptions(int activeServices, int resolutionCode = 0)
{
    Installation::ServerOptions options;
    options.activeServices = activeServices;
    options.resolutionCode = resolutionCode;
    return options;
}

} // namespace nx7::test
