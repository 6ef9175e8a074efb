// Runs the initial numbering start in the current directory (a station folder) and cuts
// it off, as a power cut would, when it reaches the stage named on the command line
// for the n-th time: the process kills itself with SIGKILL, so nothing is tidied up.
#include "filenames.h"
#include "numberingstart.h"
#include "stores.h"
#include "textrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <csignal>
#include <unistd.h>

using namespace nx7;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 3;
    const auto stage = static_cast<NumberingStart::Stage>(args.at(1).toInt());
    const int times = args.at(2).toInt();

    const Stores stores(QDir::currentPath());
    StationState state;
    auto path = TextRecord::readFirstField(stores.stationFile(FileName::ServerPathFile));
    if (!path)
        return 4;
    state.serverPath = *path;
    NumberingStart start(stores, state);
    int seen = 0;
    start.setStageHook([&](NumberingStart::Stage reached) {
        if (reached == stage && ++seen == times)
            ::kill(::getpid(), SIGKILL);
    });
    return start.startInitial().started() ? 0 : 2;
}
