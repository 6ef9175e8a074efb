// nx7totem: the ticket kiosk. No options: it works in the current directory, the station
// folder, and finds the server through "percorsiT.txt".
#include "kioskassembly.h"
#include "shell.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} "
                                      "%{if-warning}ATTENZIONE %{endif}%{if-critical}ERRORE "
                                      "%{endif}%{message}"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nx7totem"));
    QApplication::setQuitOnLastWindowClosed(false); // the program ends only where it says so
    // The operator reads Italian only, the standard dialogs' texts included.
    nx7::installItalianQtTranslations();
    return nx7::runKiosk(app);
}
