#pragma once

#include "database.h"
#include "frontend.h"
#include "serverbackend.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketscreen.h"

#include <QList>
#include <QTest>

#include <functional>
#include <memory>

namespace nx7::test {

// A ticket issuer that only records the issuedSlots and whose `issuing()` a test sets.
class FakeIssuer final : public TicketIssuer
{
public:
    void IssueTicket(TicketScreen &, int slot) override { issuedSlots.append(slot); }
    bool issuing() const override { return busy; }

    QList<int> issuedSlots;
    bool busy = false;
};

// An installation, the station state that names it, and everything a kiosk screen needs.
class KioskFixture
{
public:
    explicit KioskFixture(int activeServices = 6, int resolutionCode = 0,
                          const QString &backend = ServerBackend::SQLite)
        : installed(ServerBackend::install(backend, options(activeServices, resolutionCode))),
          installation(*installed)
    {
        state.serverPath = installation.serverPath();
        for (int n = 1; n <= kSlotCount; ++n)
            state.serviceCounters[n] = 100 + n;
    }

    bool ready() const { return installation.ok(); }

    // Runs a statement on the server database; false (and a warning) when it fails.
    bool server(const QString &sql, const QVariantList &binds = {})
    {
        auto db = Database::open(installation.serverDatabase());
        if (!db) {
            qWarning() << db.error().description;
            return false;
        }
        const Status status = db->exec(sql, binds);
        if (!status)
            qWarning() << status.error().description;
        return bool(status);
    }

    bool setConfiguration(const QString &field, const QVariant &value)
    {
        return server(
            QStringLiteral("UPDATE configurazioneTotem SET %1 = ?").arg(Database::quoted(field)),
            {value});
    }

    bool setActive(const QList<int> &ids)
    {
        if (!server(QStringLiteral("UPDATE Servizi SET ServizioAttivo = 0")))
            return false;
        for (int id : ids) {
            if (!server(QStringLiteral("UPDATE Servizi SET ServizioAttivo = -1 WHERE ID = ?"),
                        {id}))
                return false;
        }
        return true;
    }

    std::unique_ptr<FrontEnd> makeScreen()
    {
        return std::make_unique<FrontEnd>(installation.stores(), state, shell, clock, issuer);
    }

    // A loaded screen, or null when its load said that no screen is to be shown.
    std::unique_ptr<FrontEnd> load()
    {
        auto screen = makeScreen();
        if (!screen->Form_Load())
            return nullptr;
        return screen;
    }

    std::unique_ptr<TempInstallation> installed;
    TempInstallation &installation;
    StationState state;
    TestShell shell;
    TestClock clock;
    FakeIssuer issuer;

private:
    static Installation::ServerOptions options(int activeServices, int resolutionCode)
    {
        Installation::ServerOptions options;
        options.activeServices = activeServices;
        options.resolutionCode = resolutionCode;
        return options;
    }
};

} // namespace nx7::test
