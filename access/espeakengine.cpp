#include "espeakengine.h"

#include "accesslog.h"

#include <alsa/asoundlib.h>
#include <espeak-ng/speak_lib.h>

#include <chrono>
#include <cmath>

namespace nx7 {

namespace {

std::mutex g_voiceMutex;
int g_sampleRate = -1; // -1 not tried yet, 0 unusable
const EspeakVoice::Sink *g_sink = nullptr;
double g_gain = 1.0;
bool g_stopped = false;

int onSound(short *wav, int count, espeak_EVENT *)
{
    if (wav == nullptr || count <= 0 || g_stopped)
        return g_stopped ? 1 : 0;
    // Below full level only: the gain never clips.
    for (int i = 0; i < count; ++i)
        wav[i] = static_cast<short>(std::lround(wav[i] * g_gain));
    g_stopped = !(*g_sink)(wav, count);
    return g_stopped ? 1 : 0;
}

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int EspeakVoice::synthesise(const QString &text, int rate, double gainDb, const Sink &sink)
{
    std::lock_guard lock(g_voiceMutex);
    if (g_sampleRate < 0) {
        g_sampleRate = std::max(0, espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, 0));
        if (g_sampleRate > 0 && espeak_SetVoiceByName("it") != EE_OK)
            g_sampleRate = 0;
        if (g_sampleRate == 0)
            qCWarning(lcAccess) << "the Italian voice of espeak-ng cannot be used";
        else
            espeak_SetSynthCallback(onSound);
    }
    if (g_sampleRate == 0)
        return 0;
    espeak_SetParameter(espeakRATE, rate, 0);
    g_sink = &sink;
    g_gain = std::pow(10.0, std::min(gainDb, 0.0) / 20.0);
    g_stopped = false;
    const QByteArray utf8 = text.toUtf8();
    espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
                 nullptr, nullptr);
    g_sink = nullptr;
    return g_sampleRate;
}

int EspeakVoice::sampleRate()
{
    return g_sampleRate;
}

EspeakEngine::EspeakEngine(int rate, const QString &device)
    : m_rate(rate), m_device(device.toUtf8())
{
    // Started here, not in the initialiser list: the thread at once locks the mutex and
    // waits on the condition variable, which must be built before it runs.
    m_worker = std::thread([this] { run(); });
}

EspeakEngine::~EspeakEngine()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        ++m_generation;
    }
    m_wake.notify_one();
    m_worker.join();
}

void EspeakEngine::speak(const QString &text, int volumeStep)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.clear();
        m_pending.push_back({text, volumeStep, ++m_generation, steadyNs()});
    }
    m_wake.notify_one();
}

void EspeakEngine::stop()
{
    std::lock_guard lock(m_mutex);
    m_pending.clear();
    ++m_generation;
}

void EspeakEngine::beginSession()
{
    m_retryDevice = true;
}

void EspeakEngine::setDeviceObserver(DeviceObserver observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void EspeakEngine::reportUsable(bool usable)
{
    if (usable == m_reportedUsable)
        return;
    m_reportedUsable = usable;
    DeviceObserver observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer)
        observer(usable);
}

std::vector<qint64> EspeakEngine::firstSampleDelays() const
{
    std::lock_guard lock(m_mutex);
    return m_delays;
}

void EspeakEngine::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_pending.empty(); });
            if (m_quit)
                break;
            request = m_pending.front();
            m_pending.clear();
        }
        play(request);
    }
    closeDevice();
}

bool EspeakEngine::openDevice(int sampleRate)
{
    if (m_retryDevice.exchange(false))
        m_deviceFailed = false;
    if (m_pcm && m_pcmRate == sampleRate)
        return true;
    closeDevice();
    if (m_deviceFailed)
        return false;
    snd_pcm_t *pcm = nullptr;
    int rc = snd_pcm_open(&pcm, m_device.constData(), SND_PCM_STREAM_PLAYBACK, 0);
    if (rc == 0)
        rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                                unsigned(sampleRate), 1, 40000);
    if (rc < 0) {
        if (pcm)
            snd_pcm_close(pcm);
        // Said once; the next session tries again.
        m_deviceFailed = true;
        qCWarning(lcAccess).noquote() << "sound device" << m_device << "not usable, the kiosk "
                                      << "stays silent:" << snd_strerror(rc);
        reportUsable(false);
        return false;
    }
    m_pcm = pcm;
    m_pcmRate = sampleRate;
    reportUsable(true);
    return true;
}

void EspeakEngine::closeDevice()
{
    if (m_pcm)
        snd_pcm_close(static_cast<snd_pcm_t *>(m_pcm));
    m_pcm = nullptr;
    m_pcmRate = 0;
}

void EspeakEngine::play(const Request &request)
{
    bool first = true;
    bool opened = false;
    const auto current = [&] { return m_generation.load() == request.generation; };
    const EspeakVoice::Sink sink = [&](const std::int16_t *samples, int count) {
        if (!current())
            return false;
        if (!opened) {
            opened = true;
            if (!openDevice(EspeakVoice::sampleRate()))
                return false;
        }
        auto *pcm = static_cast<snd_pcm_t *>(m_pcm);
        if (!pcm)
            return false;
        if (first) {
            first = false;
            std::lock_guard lock(m_mutex);
            m_delays.push_back((steadyNs() - request.askedNs) / 1000);
        }
        while (count > 0 && current()) {
            snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples, snd_pcm_uframes_t(count));
            if (written < 0)
                written = snd_pcm_recover(pcm, int(written), 1);
            if (written < 0) {
                qCWarning(lcAccess) << "sound device failed:" << snd_strerror(int(written));
                closeDevice();
                m_deviceFailed = true;
                reportUsable(false);
                return false;
            }
            samples += written;
            count -= int(written);
        }
        return current();
    };
    if (EspeakVoice::synthesise(request.text, m_rate, VolumeSteps::gainDb(request.volumeStep),
                                sink) == 0)
        reportUsable(false); // no Italian voice: as silent as without a device
    if (auto *pcm = static_cast<snd_pcm_t *>(m_pcm)) {
        if (current())
            snd_pcm_drain(pcm); // the last words are heard to their end
        else
            snd_pcm_drop(pcm); // cut off at once
        snd_pcm_prepare(pcm);
    }
}

} // namespace nx7
