#pragma once

#include <QString>

namespace nx7 {

// Volume steps of the voice: step kMaxVolumeStep plays at full level, each step below it
// 3 dB lower, so the range spans 21 dB.
struct VolumeSteps
{
    static constexpr int kMin = 1;
    static constexpr int kMax = 8;
    static constexpr int kDefault = 6;
    static constexpr double kDecibelsPerStep = 3.0;
    static double gainDb(int step) { return (step - kMax) * kDecibelsPerStep; }
};

// What speaks the kiosk's words. speak() returns at once: the words play elsewhere, and a
// later speak() or stop() cuts them off.
class SpeechEngine
{
public:
    virtual ~SpeechEngine() = default;
    virtual void speak(const QString &text, int volumeStep) = 0;
    virtual void stop() = 0;
    // A new customer: a sound device that failed is tried again.
    virtual void beginSession() {}
};

} // namespace nx7
