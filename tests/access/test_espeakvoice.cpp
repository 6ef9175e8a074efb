// The real Italian voice of espeak-ng, synthesised into memory and played on ALSA's null
// device and on a device that does not exist.
#include "espeakengine.h"

#include <QTest>

#include <atomic>
#include <cmath>
#include <vector>

using namespace nx7;

namespace {

struct Sound
{
    int rate = 0;
    std::vector<std::int16_t> samples;
    double seconds() const { return rate ? double(samples.size()) / rate : 0; }
    double rms() const
    {
        double sum = 0;
        for (auto s : samples)
            sum += double(s) * s;
        return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
    }
    // Share of 20 ms windows that carry sound rather than silence.
    double voicedShare() const
    {
        const size_t window = size_t(rate / 50);
        size_t voiced = 0, windows = 0;
        for (size_t at = 0; window && at + window <= samples.size(); at += window, ++windows) {
            double sum = 0;
            for (size_t i = at; i < at + window; ++i)
                sum += std::abs(double(samples[i]));
            voiced += sum / double(window) > 300 ? 1 : 0;
        }
        return windows ? double(voiced) / double(windows) : 0;
    }
};

Sound synthesise(const QString &text, int volumeStep)
{
    Sound sound;
    sound.rate = EspeakVoice::synthesise(
        text, 160, VolumeSteps::gainDb(volumeStep), [&](const std::int16_t *samples, int count) {
            sound.samples.insert(sound.samples.end(), samples, samples + count);
            return true;
        });
    return sound;
}

} // namespace

class TestEspeakVoice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void italianSentenceIsSpeechOverEighteenDecibels();
    void playsWithoutADeviceAndOnTheNullDevice();
};

// A ticket's words: speech of a plausible length, not silence; the quietest volume step at
// least 18 dB below the loudest.
void TestEspeakVoice::italianSentenceIsSpeechOverEighteenDecibels()
{
    const QString text = QStringLiteral("Il suo numero è 107, servizio Tributi. 3 persone prima "
                                        "di lei.");
    const Sound loud = synthesise(text, VolumeSteps::kMax);
    QVERIFY2(loud.rate > 0, "espeak-ng with its Italian voice is not installed");
    QVERIFY2(loud.seconds() >= 2.5 && loud.seconds() <= 9.0,
             qPrintable(QString::number(loud.seconds())));
    QVERIFY2(loud.voicedShare() > 0.5, qPrintable(QString::number(loud.voicedShare())));
    const double quiet = synthesise(text, VolumeSteps::kMin).rms();
    QVERIFY(quiet > 0);
    QVERIFY2(20 * std::log10(loud.rms() / quiet) >= 18.0,
             qPrintable(QString::number(loud.rms() / quiet)));
}

void TestEspeakVoice::playsWithoutADeviceAndOnTheNullDevice()
{
    {
        EspeakEngine missing(160, QStringLiteral("nx7_no_such_device"));
        std::atomic<int> toldUnusable{0};
        missing.setDeviceObserver([&](bool usable) { toldUnusable += usable ? -100 : 1; });
        missing.speak(QStringLiteral("Benvenuto"), VolumeSteps::kDefault);
        QTRY_COMPARE_WITH_TIMEOUT(toldUnusable.load(), 1, 5000);
        QVERIFY(missing.firstSampleDelays().empty()); // silent, and nothing hangs
        // Tried again with the next customer, but the fault is told once.
        missing.beginSession();
        missing.speak(QStringLiteral("Benvenuto"), VolumeSteps::kDefault);
        QTest::qWait(300);
        QCOMPARE(toldUnusable.load(), 1);
    }
    EspeakEngine null(160, QStringLiteral("null"));
    null.speak(QStringLiteral("Anagrafe, servizio 1 di 6"), VolumeSteps::kDefault);
    QTRY_COMPARE_WITH_TIMEOUT(null.firstSampleDelays().size(), size_t(1), 5000);
    // A stop cuts a long text off: the next words start without waiting for it.
    null.speak(QString(QStringLiteral("Uno due tre quattro cinque. ")).repeated(20), 6);
    QTest::qWait(50);
    null.speak(QStringLiteral("Tributi"), VolumeSteps::kDefault);
    QTRY_COMPARE_WITH_TIMEOUT(null.firstSampleDelays().size(), size_t(3), 5000);
    QVERIFY(null.firstSampleDelays().back() < 500000);
}

QTEST_GUILESS_MAIN(TestEspeakVoice)
#include "test_espeakvoice.moc"
