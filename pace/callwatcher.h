#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace nx7 {

class CallLog;

// Reads the numbering files of the active slots every few seconds and tells the call log
// what they say. The reads run on a thread of their own, never on the ticket's road nor
// on the screen's: a numbering file on a share that hangs holds up only that thread.
class CallWatcher
{
public:
    static constexpr std::chrono::milliseconds kInterval{5000};
    // How long stopping waits for a read in progress before leaving it to end by itself.
    static constexpr std::chrono::milliseconds kStopWait{1000};

    explicit CallWatcher(std::shared_ptr<CallLog> log);
    ~CallWatcher();
    CallWatcher(const CallWatcher &) = delete;
    CallWatcher &operator=(const CallWatcher &) = delete;

    // Reads slots 1 .. `slotCount` of `serverPath` once, on the calling thread, each reading
    // taken at the time `now` gives; changes are saved to the log's journal. How many
    // files could not be read (a slot without a file among them).
    static int pollOnce(CallLog &log, const QString &serverPath, int slotCount,
                        const std::function<QDateTime()> &now);

    // Watches slots 1 .. `slotCount` of `serverPath` in the background until stopped; a
    // watch already running is stopped first.
    void start(const QString &serverPath, int slotCount,
               std::chrono::milliseconds interval = kInterval);
    void stop();
    bool running() const { return m_worker != nullptr; }

private:
    struct Worker;
    static void run(std::shared_ptr<Worker> worker);

    std::shared_ptr<CallLog> m_log;
    std::shared_ptr<Worker> m_worker;
};

} // namespace nx7
