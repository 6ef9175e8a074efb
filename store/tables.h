#pragma once

#include <QString>
#include <QStringList>

namespace nx7 {

// The tables of the two databases, with the spelling used when a table is created. The
// stores find tables and fields without regard to case, so these are the only spellings
// the kiosk needs.
namespace Table {
// Local database "TotemNX7PRO.mdb"
inline const QString LocalSettings = QStringLiteral("ConfigurazioneTotem");
inline const QString Counters = QStringLiteral("Numerazione");
inline const QString InitialCounters = QStringLiteral("NumerazioneIniziale");
inline const QString PrintRow = QStringLiteral("DatiDaStampare");
// Server database, the contract with the counter stations
inline const QString Services = QStringLiteral("Servizi");
inline const QString Queue = QStringLiteral("Codafromtotem");
inline const QString ScreenSettings = QStringLiteral("configurazioneTotem");
} // namespace Table

namespace Field {
// "ConfigurazioneTotem"
inline const QString WaitEnabled = QStringLiteral("AttesaSN");
inline const QString WaitSeconds = QStringLiteral("AttesaSecondi");
inline const QString VoiceEnabled = QStringLiteral("VoceSN");
inline const QString VoiceVolume = QStringLiteral("VoceVolume");
inline const QString VoiceRate = QStringLiteral("VoceVelocita");
inline const QString WaitEstimateEnabled = QStringLiteral("StimaAttesaSN");
inline const QString VoiceRepeatDelay = QStringLiteral("VoceRipetizione");
// "Numerazione" and "NumerazioneIniziale": "P1" .. "P20"
inline QString counter(int slot)
{
    return QStringLiteral("P%1").arg(slot);
}
// "DatiDaStampare", and the key "ID" of "Servizi"
inline const QString Id = QStringLiteral("ID");
inline const QString PrintedService = QStringLiteral("QualeUtente");
inline const QString PrintedDate = QStringLiteral("QualeData");
inline const QString PrintedAhead = QStringLiteral("NumeroArrivati");
inline const QString PrintedTime = QStringLiteral("QualeOra");
inline const QString PrintedNumber = QStringLiteral("NumeroDaStampare");
// "Servizi"
inline const QString ServiceName = QStringLiteral("Servizio");
inline const QString ServiceActive = QStringLiteral("ServizioAttivo");
inline const QString Waiting = QStringLiteral("Attesa");
// "Codafromtotem"
inline const QString QueueServiceId = QStringLiteral("ServizioID");
inline const QString QueueService = QStringLiteral("SErvizio");
inline const QString QueueTime = QStringLiteral("Ora");
inline const QString QueueCalled = QStringLiteral("SeChiamato");
inline const QString QueueNumber = QStringLiteral("NrDaChiamare");
// The columns that identify a queued ticket (the stations change "SeChiamato").
inline const QStringList QueueTicket{QueueServiceId, QueueService, QueueTime, QueueNumber};
// "configurazioneTotem"
inline const QString Resolution = QStringLiteral("RisoluzioneTotem");
inline const QString Background = QStringLiteral("SfondoTotem");
inline const QString Title = QStringLiteral("TitoloTotem");
inline const QString TitleVisible = QStringLiteral("TestoVisibile");
inline const QString DateVisible = QStringLiteral("DataVisibile");
// The five fields of one font, spelled as the stations spell them.
struct FontFields
{
    QString name, bold, italic, size, colour;
};
inline const FontFields TitleFont{QStringLiteral("FontTitolo"), QStringLiteral("FontBoldTItolo"),
                                  QStringLiteral("FontitalicTitolo"),
                                  QStringLiteral("FontSizeTitolo"),
                                  QStringLiteral("FontForecolorTitolo")};
inline const FontFields DateFont{QStringLiteral("FontData"), QStringLiteral("FontBoldData"),
                                 QStringLiteral("FontitalicData"), QStringLiteral("FontSizeData"),
                                 QStringLiteral("FontForecolorData")};
inline const FontFields ButtonFont{QStringLiteral("Font"), QStringLiteral("FontBold"),
                                   QStringLiteral("Fontitalic"), QStringLiteral("FontSize"),
                                   QStringLiteral("FontForecolor")};
// Every field of "configurazioneTotem" the screen reads, in table order.
inline QStringList screenSettings()
{
    QStringList fields{Resolution, Background, Title};
    for (const FontFields &font : {TitleFont, DateFont, ButtonFont})
        fields << font.name << font.bold << font.italic << font.size << font.colour;
    return fields << TitleVisible << DateVisible;
}
} // namespace Field

} // namespace nx7
