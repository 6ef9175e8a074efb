#include "kioskassembly.h"

#include "accesslog.h"
#include "clock.h"
#include "espeakengine.h"
#include "previousinstance.h"
#include "shell.h"
#include "signalstop.h"
#include "stationsettings.h"
#include "systemprinters.h"
#include "timedwait.h"
#include "voicesettings.h"

#include <QApplication>
#include <QDir>

namespace nx7 {

static_assert(VoiceSettings::kMinVolume == VolumeSteps::kMin &&
              VoiceSettings::kMaxVolume == VolumeSteps::kMax);
static_assert(VoiceSettings::Values{}.repeatDelayMs == SpeechSettings{}.repeatDelayMs);

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
    return {stored->enabled, stored->volumeStep, stored->rate, stored->repeatDelayMs};
}

// Whether the station prints and says the expected wait; a setting that cannot be read
// leaves it on, as a station that never set it.
bool estimateWanted(const Stores &stores)
{
    const auto wanted = WaitEstimateSetting::load(stores);
    return !wanted || *wanted;
}

} // namespace

KioskAssembly::KioskAssembly(const QString &stationFolder, const KioskDevices &devices,
                             const QString &version)
    : m_stores(stationFolder), m_devices(devices),
      m_calls(std::make_shared<CallLog>(QDir(stationFolder).filePath(CallLog::JournalName))),
      m_callWatcher(m_calls), m_waitEstimator(m_calls, devices.clock),
      m_estimating(estimateWanted(m_stores)),
      m_issuer(m_stores, m_state, devices.shell, devices.clock, devices.waiter, devices.printers,
               m_estimating ? &m_waitEstimator : nullptr),
      m_service(devices.clock, version), // readiness, status line, watchdog, metrics
      m_speech(stationSpeechSettings(m_stores))
{
    m_calls->restore(devices.clock.now().date());
    // The voice of the keypad beside the screen; it speaks only once a key was pressed.
    if (m_devices.makeVoice)
        m_voice = m_devices.makeVoice(m_speech);
    m_issuer.setObserver(&m_service);
    m_service.followPrinter(*m_issuer.printerMonitor());
    m_laMain = std::make_unique<LaMain>(
        m_stores, m_state, devices.shell, devices.instance, devices.clock,
        [this](QWidget *parent) -> std::unique_ptr<QDialog> { return makeKioskScreen(parent); });
    QObject::connect(m_laMain.get(), &LaMain::numberingResumed, m_laMain.get(),
                     [this](const QDateTime &started) {
                         m_service.setResumedWithoutOperator(
                             started.toString(QStringLiteral("HH:mm")));
                     });
}

std::unique_ptr<FrontEnd> KioskAssembly::makeKioskScreen(QWidget *parent)
{
    const KioskScreenParts parts{m_stores,        m_state,  m_devices.shell,
                                 m_devices.clock, m_issuer, {m_voice, m_speech},
                                 &m_service};
    auto screen = FrontEnd::createLoaded(parts, parent);
    // The pace is watched while the kiosk screen serves, from the server it was loaded for.
    if (screen && m_estimating)
        m_callWatcher.start(m_state.serverPath, CallLog::kSlots);
    return screen;
}

bool KioskAssembly::start()
{
    m_service.notifyReadyWhenRunning();
    m_laMain->Form_Load();
    if (m_devices.shell.programEnded())
        return false;
    showAndActivate(*m_laMain);
    m_service.startupWindowShown();
    return true;
}

int runKiosk(QApplication &app)
{
    // The station folder is where the kiosk was started; every store is found from it.
    DesktopShell shell;
    SystemClock clock;
    EventLoopWaiter waiter;
    SystemPrinters printers; // the one of the layout's output line
    MachineInstanceLock instance;
    std::unique_ptr<EspeakEngine> voice;
    const auto makeVoice = [&voice](const SpeechSettings &speech) {
        voice = std::make_unique<EspeakEngine>(speech.rate);
        return voice.get();
    };
    KioskAssembly kiosk(QDir::currentPath(), {shell, clock, waiter, printers, instance, makeVoice},
                        QStringLiteral(NX7_VERSION));
    voice->setDeviceObserver([&app, &kiosk](bool usable) {
        QMetaObject::invokeMethod(
            &app, [&kiosk, usable] { kiosk.service().setVoiceUsable(usable); },
            Qt::QueuedConnection);
    });
    // systemd's stop: the ticket being issued is finished, then the event loop is left.
    SignalStop signalStop([&kiosk] { return kiosk.issuer().issuing(); },
                          [&shell] { shell.endProgram(); });
    if (!kiosk.start())
        return 0;
    return app.exec();
}

} // namespace nx7
