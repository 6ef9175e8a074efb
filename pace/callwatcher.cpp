#include "callwatcher.h"

#include "calllog.h"
#include "filenames.h"
#include "numberingfile.h"
#include "pacelog.h"

#include <QDir>

#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

namespace nx7 {

// Everything the watching thread touches: shared with it, so that a thread stuck on a
// hung share outlives its watcher safely.
struct CallWatcher::Worker
{
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool finished = false;
    QString serverPath;
    int slotCount = 0;
    std::chrono::milliseconds interval{};
    std::shared_ptr<CallLog> log;
};

CallWatcher::CallWatcher(std::shared_ptr<CallLog> log) : m_log(std::move(log)) {}

CallWatcher::~CallWatcher()
{
    stop();
}

int CallWatcher::pollOnce(CallLog &log, const QString &serverPath, int slotCount,
                          const std::function<QDateTime()> &now)
{
    int unread = 0;
    bool changed = false;
    SharedFile::LockWait once;
    once.limit = std::chrono::milliseconds(0); // a station's lock: read again next time
    for (int slot = 1; slot <= slotCount; ++slot) {
        const auto calling =
            NumberingFile::readCallingNumber(FilePath::numberingFile(serverPath, slot), once);
        constexpr double kHighest = std::numeric_limits<qint32>::max();
        // An empty file (one caught while written without a lock) reads as 0: no number,
        // never a numbering that went back.
        if (!calling || !(*calling >= 1 && *calling <= kHighest)) {
            ++unread;
            continue;
        }
        changed |= log.observe(slot, qint32(std::nearbyint(*calling)), now());
    }
    if (changed) {
        if (Status saved = log.save(); !saved)
            qCWarning(lcPace).noquote()
                << "call journal" << QDir::toNativeSeparators(log.journalPath())
                << "not written:" << saved.error().description;
    }
    return unread;
}

void CallWatcher::start(const QString &serverPath, int slotCount,
                        std::chrono::milliseconds interval)
{
    stop();
    m_worker = std::make_shared<Worker>();
    m_worker->serverPath = serverPath;
    m_worker->slotCount = slotCount;
    m_worker->interval = interval;
    m_worker->log = m_log;
    std::thread(run, m_worker).detach();
    qCInfo(lcPace).noquote() << "watching the calls of" << slotCount << "services in"
                             << QDir::toNativeSeparators(serverPath);
}

void CallWatcher::stop()
{
    if (!m_worker)
        return;
    std::unique_lock lock(m_worker->mutex);
    m_worker->stopping = true;
    m_worker->wake.notify_all();
    if (!m_worker->wake.wait_for(lock, kStopWait, [this] { return m_worker->finished; }))
        qCWarning(lcPace) << "a numbering file read still hangs: left to end by itself";
    lock.unlock();
    m_worker.reset();
}

void CallWatcher::run(std::shared_ptr<Worker> worker)
{
    const auto now = [] { return QDateTime::currentDateTime(); };
    bool allUnread = false;
    std::unique_lock lock(worker->mutex);
    while (!worker->stopping) {
        lock.unlock();
        const int unread =
            CallWatcher::pollOnce(*worker->log, worker->serverPath, worker->slotCount, now);
        // Told once when no file answers (the share gone), once when they answer again.
        if ((worker->slotCount > 0 && unread == worker->slotCount) != allUnread) {
            allUnread = !allUnread;
            qCInfo(lcPace).noquote() << (allUnread ? "no numbering file readable: no estimate"
                                                   : "numbering files readable again");
        }
        lock.lock();
        worker->wake.wait_for(lock, worker->interval, [&] { return worker->stopping; });
    }
    worker->finished = true;
    worker->wake.notify_all();
}

} // namespace nx7
