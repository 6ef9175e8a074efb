#pragma once

#include <QString>

namespace nx7 {

// Tells whether another copy of the kiosk already runs on this machine.
class PreviousInstance
{
public:
    virtual ~PreviousInstance() = default;
    // Claims the machine for this process; true when another copy holds it already.
    virtual bool anotherCopyRunning() = 0;
};

// A lock every user's copy sees: an advisory lock on a file in the machine's temporary
// folder. The system drops it when the holder ends, so a crashed copy leaves nothing stuck.
class MachineInstanceLock final : public PreviousInstance
{
public:
    explicit MachineInstanceLock(QString lockPath = defaultLockPath());
    ~MachineInstanceLock() override;
    MachineInstanceLock(const MachineInstanceLock &) = delete;
    MachineInstanceLock &operator=(const MachineInstanceLock &) = delete;

    bool anotherCopyRunning() override;
    static QString defaultLockPath();

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace nx7
