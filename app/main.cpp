// nx7totem: the ticket kiosk. No options: it works in the current directory, the station
// folder, and finds the server through "percorsiT.txt".
#include "accesslog.h"
#include "calllog.h"
#include "callwatcher.h"
#include "clock.h"
#include "espeakengine.h"
#include "filenames.h"
#include "frontend.h"
#include "kioskservice.h"
#include "lamain.h"
#include "previousinstance.h"
#include "shell.h"
#include "speechsession.h"
#include "stationstate.h"
#include "stores.h"
#include "systemprinters.h"
#include "ticketissue.h"
#include "timedwait.h"
#include "voicesettings.h"
#include "waitestimatesetting.h"
#include "waitestimator.h"

#include <QApplication>
#include <QDir>

using namespace nx7;

static_assert(VoiceSettings::kMinVolume == VolumeSteps::kMin &&
              VoiceSettings::kMaxVolume == VolumeSteps::kMax);

namespace {

// The station's own voice settings; a local database that cannot be read leaves the
// defaults, and the start-up window then says what is wrong with it.
SpeechSettings stationSpeechSettings(const Stores &stores)
{
    const auto stored = VoiceSettings::load(stores);
    if (!stored) {
        qCWarning(lcAccess).noquote()
            << "voice settings not read, the defaults speak:" << stored.error().description;
        return {};
    }
    return {stored->enabled, stored->volumeStep, stored->rate};
}

} // namespace

int main(int argc, char *argv[])
{
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} "
                                      "%{if-warning}ATTENZIONE %{endif}%{if-critical}ERRORE "
                                      "%{endif}%{message}"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nx7totem"));
    QApplication::setQuitOnLastWindowClosed(false); // the program ends only where it says so
    // The operator reads Italian only, the standard dialogs' texts included.
    installItalianQtTranslations();

    // The station folder is where the kiosk was started; every store is found from it.
    const Stores stores(QDir::currentPath());
    StationState state;
    DesktopShell shell;
    SystemClock clock;
    EventLoopWaiter waiter;
    SystemPrinters printers; // the one of the layout's output line
    MachineInstanceLock instance;
    // The counters' pace, learnt from the numbering files, for the wait on each ticket.
    auto calls = std::make_shared<CallLog>(FilePath::local(CallLog::JournalName));
    calls->restore(clock.now().date());
    CallWatcher callWatcher(calls);
    WaitEstimator waitEstimator(calls, clock);
    const auto estimating = WaitEstimateSetting::load(stores);
    TicketIssue issuer(stores, state, shell, clock, waiter, printers,
                       estimating && !*estimating ? nullptr : &waitEstimator);
    KioskService service(clock); // readiness, status line, watchdog, metrics
    issuer.setObserver(&service);
    service.followPrinter(*issuer.printerMonitor());

    // The voice of the keypad beside the screen; it speaks only once a key was pressed.
    const SpeechSettings speechSettings = stationSpeechSettings(stores);
    EspeakEngine voice(speechSettings.rate);
    voice.setDeviceObserver([&app, &service](bool usable) {
        QMetaObject::invokeMethod(
            &app, [&service, usable] { service.status().setVoiceUsable(usable); },
            Qt::QueuedConnection);
    });

    const FrontEndFactory makeFrontEnd = [&](QWidget *parent) {
        auto screen = FrontEnd::createLoaded(stores, state, shell, clock, issuer, parent);
        if (auto *frontEnd = qobject_cast<FrontEnd *>(screen.get()))
            frontEnd->setSpeech(voice, speechSettings);
        service.followKioskScreen(screen.get());
        if (!estimating || *estimating)
            callWatcher.start(state.serverPath, CallLog::kSlots);
        return screen;
    };

    LaMain laMain(stores, state, shell, instance, makeFrontEnd);
    service.notifyReadyWhenRunning();
    laMain.Form_Load();
    if (shell.programEnded())
        return 0;
    showAndActivate(laMain);
    service.startupWindowShown();
    return app.exec();
}
