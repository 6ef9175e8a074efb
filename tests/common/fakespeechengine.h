#pragma once

#include "speechengine.h"

#include <QStringList>

namespace nx7::test {

// Records what a speech session asks of its engine: "say:<volume>:<text>", "stop", "begin".
class FakeSpeechEngine final : public SpeechEngine
{
public:
    void speak(const QString &text, int volumeStep) override
    {
        calls.append(QStringLiteral("say:%1:%2").arg(volumeStep).arg(text));
        spoken.append(text);
    }
    void stop() override { calls.append(QStringLiteral("stop")); }
    void beginSession() override { calls.append(QStringLiteral("begin")); }

    QString last() const { return spoken.isEmpty() ? QString() : spoken.last(); }

    QStringList calls;
    QStringList spoken;
};

} // namespace nx7::test
