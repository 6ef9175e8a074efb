// Key press to the first sound handed to the device: nx7speechbench [presses] [device].
// Each press moves the selection, as a keypad customer does, cutting the last words off.
#include "espeakengine.h"
#include "speechsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace nx7;

static long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const QString device = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("null");
    const long before = residentKb();
    EspeakEngine engine(SpeechSettings{}.rate, device);
    SpeechSession session(engine, SpeechSettings{});
    session.setServices({"Anagrafe", "Tributi", "Stato civile", "Servizi sociali", "Protocollo",
                         "Ufficio tecnico"});
    for (int i = 0; i <= presses; ++i) {
        session.key(i % 7 == 6 ? AccessKey::Previous : AccessKey::Next, i * 120);
        QThread::msleep(120);
    }
    QThread::msleep(500);
    std::vector<qint64> delays = engine.firstSampleDelays();
    const long after = residentKb();
    if (delays.empty()) {
        std::printf("no sound reached device %s\n", qPrintable(device));
        return 1;
    }
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) {
        return delays[size_t(q * double(delays.size() - 1))] / 1000.0;
    };
    std::printf("device %s, %zu utterances: key to first sample median %.1f ms, p99 %.1f ms, "
                "max %.1f ms; resident memory %ld kB before the voice, %ld kB after\n",
                qPrintable(device), delays.size(), at(0.5), at(0.99), at(1.0), before, after);
    return 0;
}
