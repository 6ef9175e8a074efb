#include "benchkiosk.h"

#include "installation.h"
#include "stationstate.h"

#include <QDate>

#include <algorithm>

namespace nx7::bench {

BenchScreen::BenchScreen(int firstId, int services)
{
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        context.slotNextNumber[slot] = 1;
        context.slotServiceId[slot] = firstId + (slot - 1) % services;
    }
    context.screenDateText = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
}

QString BenchScreen::buttonCaption(int slot) const
{
    return QStringLiteral("Servizio %1 ").arg(context.slotServiceId[slot].toInt());
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index =
        size_t(std::min<double>(values.size() - 1, p * double(values.size() - 1) + 0.5));
    return values[index];
}

Status makeServer(Backend &backend, const QString &folder)
{
    Installation::ServerOptions options;
    options.activeServices = 20;
    if (!backend.postgres)
        return Installation::createServer(folder, options);
    const QString database = backend.postgres->createDatabase(QStringLiteral("bench"));
    if (database.isEmpty())
        return Error::make(ErrorNumber::CannotOpenDatabase, backend.postgres->error());
    return Installation::createPostgresServer(
        folder, backend.postgres->connectionString(database, true), options);
}

Result<QString> enterNewStation(const QTemporaryDir &root, Backend &backend)
{
    const QString server = root.filePath(QStringLiteral("server"));
    const QString station = root.filePath(QStringLiteral("station"));
    Status made = makeServer(backend, server);
    if (made)
        made = Installation::createStation(station, server);
    if (!made)
        return made.error();
    QString previous = QDir::currentPath();
    QDir::setCurrent(station);
    return previous;
}

} // namespace nx7::bench
