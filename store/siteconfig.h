#pragma once

#include "database.h"
#include "errors.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace nx7 {

// The settings a site sets without writing SQL: the services of the server's "Servizi",
// the screen of its "configurazioneTotem" and the waiting message of a station's
// "ConfigurazioneTotem". Each is named as the technician types it ("titolo",
// "pulsanti-colore") and checked as the kiosk reads it, so that a value the kiosk would
// refuse or read otherwise is never stored.
namespace SiteConfig {

enum class Kind
{
    Text,       // stored as typed
    YesNo,      // si/no, stored -1/0 as the stations do
    Resolution, // 0..3, or 1280x1024, 1920x1080, 1440x900, 800x600
    FontSize,   // whole points
    Colour,     // #RRGGBB or the stations' number red + 256 green + 65536 blue, as text
    Seconds     // the 16-bit "AttesaSecondi"
};

struct Setting
{
    QString key;   // as typed: "titolo"
    QString field; // as stored: "TitoloTotem"
    Kind kind = Kind::Text;
    QString meaning; // for the list, in Italian
};

// Every field of "configurazioneTotem" the kiosk screen reads, in table order.
const QList<Setting> &screenSettings();
// The waiting message of a station.
const QList<Setting> &stationSettings();
// The setting of that key in the list, or nullopt.
std::optional<Setting> find(const QList<Setting> &settings, const QString &key);

constexpr int kMaxFontSize = 400;
// The longest hold the kiosk keeps after a ticket (a longer stored value is cut to it).
constexpr int kMaxWaitSeconds = 60;
constexpr int kServiceCount = 20;

// The value to store for what was typed; Overflow (6) naming the key, the value and what
// is allowed when the kiosk could not use it.
Result<QVariant> parse(const Setting &setting, const QString &typed);
// A stored value as a technician would type it ("si", "#000080", "1280x1024 (0)").
QString shown(const Setting &setting, const QVariant &stored);

using Values = QList<std::pair<Setting, QVariant>>;
// The stored values of `settings` in the first row of `table`.
Result<Values> read(Database &db, const QString &table, const QList<Setting> &settings);
// Writes the values into the first row of `table`, all in one update.
Status write(Database &db, const QString &table, const Values &values);
// The screen settings in the server database, the waiting message in the local one.
Result<Values> readScreen(Database &server);
Status writeScreen(Database &server, const Values &values);
Result<Values> readStation(Database &local);
Status writeStation(Database &local, const Values &values);

struct Service
{
    int id = 0;
    QString name;
    bool active = false;
    int waiting = 0; // "Attesa": people waiting, as the last ticket left it
};
// The rows of "Servizi" in table order, as the kiosk loads them.
Result<QList<Service>> services(Database &server);
// Renames and switches on or off the service whose "ID" is `id` (1..20); what is nullopt
// stays. An empty name is refused: its button would be blank.
Status setService(Database &server, int id, const std::optional<QString> &name,
                  std::optional<bool> active);

} // namespace SiteConfig
} // namespace nx7
