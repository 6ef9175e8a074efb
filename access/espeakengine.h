#pragma once

#include "speechengine.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nx7 {

// Italian speech from libespeak-ng. One process-wide synthesiser: calls are serialised.
class EspeakVoice
{
public:
    // Called with each piece of sound as it is made; returning false stops the words.
    using Sink = std::function<bool(const std::int16_t *samples, int count)>;
    // Speaks the text at the rate (words per minute) and gain into the sink. Returns the
    // sample rate, 0 when the synthesiser cannot be used.
    static int synthesise(const QString &text, int rate, double gainDb, const Sink &sink);
    // The sample rate of the sound a sink is given; valid inside a sink.
    static int sampleRate();
};

// Plays the voice on an ALSA device from a thread of its own, so that the screen never
// waits for sound. Without a working device the words are dropped: tickets go on.
class EspeakEngine final : public SpeechEngine
{
public:
    explicit EspeakEngine(int rate, const QString &device = QStringLiteral("default"));
    ~EspeakEngine() override;

    void speak(const QString &text, int volumeStep) override;
    void stop() override;
    void beginSession() override;

    // Told, from the voice's own thread, when the voice stops being heard (no sound device,
    // a device that failed, no Italian voice) and when it is heard again.
    using DeviceObserver = std::function<void(bool usable)>;
    void setDeviceObserver(DeviceObserver observer);

    // Microseconds from each speak() to its first samples handed to the device.
    std::vector<qint64> firstSampleDelays() const;

private:
    struct Request
    {
        QString text;
        int volumeStep = 0;
        std::uint64_t generation = 0;
        std::int64_t askedNs = 0;
    };
    void run();
    void play(const Request &request);
    bool openDevice(int sampleRate);
    void closeDevice();
    void reportUsable(bool usable);

    const int m_rate;
    const QByteArray m_device;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Request> m_pending; // at most one: a newer request replaces an older one
    std::atomic<std::uint64_t> m_generation{0};
    std::atomic<bool> m_retryDevice{false};
    bool m_quit = false;
    std::vector<qint64> m_delays;
    // Worker thread only.
    void *m_pcm = nullptr;
    int m_pcmRate = 0;
    bool m_deviceFailed = false;
    bool m_reportedUsable = true;
    DeviceObserver m_observer; // guarded by m_mutex
    // Last: started once every member above is built, and joined before any is destroyed.
    std::thread m_worker;
};

} // namespace nx7
