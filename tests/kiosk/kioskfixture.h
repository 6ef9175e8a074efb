#pragma once

#include "database.h"
#include "fakespeechengine.h"
#include "frontend.h"
#include "stationdata.h"
#include "stationfixture.h"
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

// A station and everything a kiosk screen needs.
class KioskFixture : public StationFixture
{
public:
    explicit KioskFixture(int activeServices = 6, int resolutionCode = 0)
        : StationFixture(serverOptions(activeServices, resolutionCode))
    {
        for (int n = 1; n <= kSlotCount; ++n)
            state.serviceCounters[n] = 100 + n;
    }

    // Runs a statement on the server database.
    bool server(const QString &sql, const QVariantList &binds = {})
    {
        return run(installation.serverDatabase(), sql, binds);
    }

    // Through a record set, as the stations' front-ends write: -1 / 0 become a boolean
    // in a PostgreSQL Yes/No column.
    bool setConfiguration(const QString &field, const QVariant &value)
    {
        auto db = Database::open(installation.serverDatabase());
        auto config = db ? RecordSet::openTable(*db, QStringLiteral("configurazioneTotem"))
                         : Result<RecordSet>(db.error());
        return config && config->edit() && config->setValue(field, value) && config->update();
    }

    bool setActive(const QList<int> &ids)
    {
        if (!server(QStringLiteral("UPDATE \"Servizi\" SET \"ServizioAttivo\" = FALSE")))
            return false;
        for (int id : ids) {
            if (!server(QStringLiteral(
                            "UPDATE \"Servizi\" SET \"ServizioAttivo\" = TRUE WHERE \"ID\" = ?"),
                        {id}))
                return false;
        }
        return true;
    }

    // What the kiosk makes its screens with, the keypad's voice included.
    KioskScreenParts parts(TicketIssuer &with)
    {
        return {stores, state, shell, clock, with, {&voice, {}}, nullptr};
    }

    std::unique_ptr<FrontEnd> makeScreen() { return std::make_unique<FrontEnd>(parts(issuer)); }

    // A loaded screen, or null when its load said that no screen is to be shown.
    std::unique_ptr<FrontEnd> load()
    {
        auto screen = makeScreen();
        if (!screen->Form_Load())
            return nullptr;
        return screen;
    }

    const Stores stores{installation.stores()};
    FakeIssuer issuer;
    FakeSpeechEngine voice;
};

} // namespace nx7::test
