// The voice engine's thread against the screen's: engines built and destroyed many times
// while their words are being made and played. Built on its own, with the access library
// only, so that the ThreadSanitizer run stays small (scripts/run-tsan.sh).
#include "espeakengine.h"

#include <QTest>

#include <atomic>

using namespace nx7;

class TestSpeechThreads : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void engineBuiltAndDestroyedWithSpeechInFlight_data();
    void engineBuiltAndDestroyedWithSpeechInFlight();
};

void TestSpeechThreads::engineBuiltAndDestroyedWithSpeechInFlight_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("settleMs"); // how long the words run before the engine goes
    QTest::newRow("null device, destroyed at once") << QStringLiteral("null") << 0;
    QTest::newRow("null device, mid-sentence") << QStringLiteral("null") << 15;
    QTest::newRow("missing device") << QStringLiteral("nx7_no_such_device") << 5;
}

void TestSpeechThreads::engineBuiltAndDestroyedWithSpeechInFlight()
{
    QFETCH(QString, device);
    QFETCH(int, settleMs);
    bool set = false;
    const int rounds = qEnvironmentVariableIntValue("NX7_SPEECH_ROUNDS", &set);
    std::atomic<int> told{0};
    for (int round = 0; round < (set ? rounds : 60); ++round) {
        EspeakEngine engine(160, device);
        engine.setDeviceObserver([&](bool) { ++told; });
        engine.speak(QStringLiteral("Il suo numero è %1, servizio Anagrafe.").arg(round),
                     VolumeSteps::kDefault);
        engine.beginSession();
        if (round % 3 == 1)
            engine.stop();
        engine.speak(QStringLiteral("Tributi"), VolumeSteps::kMin + round % VolumeSteps::kMax);
        if (settleMs > 0)
            QTest::qSleep(settleMs);
    }
    // Reaching here without an abort or a sanitizer report is the test; a missing device
    // was at least once told to the observer, from the engine's thread.
    if (device.startsWith(QStringLiteral("nx7_")))
        QVERIFY(told.load() > 0);
}

QTEST_GUILESS_MAIN(TestSpeechThreads)
#include "test_speechthreads.moc"
