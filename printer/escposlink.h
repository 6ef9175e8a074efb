#pragma once

#include "errors.h"
#include "escpos.h"

#include <QByteArray>

#include <memory>
#include <optional>

namespace nx7 {

// One open connection to a receipt printer, every wait bounded by a timeout: the kiosk
// runs it on its one thread. The session (EscPosPrinter) speaks ESC/POS over it.
class EscPosLink
{
public:
    enum class Drained
    {
        Quiet,   // nothing more is waiting
        Closed,  // the other end has closed the connection
        Flooding // it keeps sending: line noise, a device such as /dev/zero
    };

    virtual ~EscPosLink() = default;

    // Every byte, or an error when the other end takes none for `stallMs` or the
    // connection broke.
    virtual Status write(const QByteArray &bytes, int stallMs) = 0;
    // Throws away whatever the printer sent unasked (late replies, automatic status),
    // within a bound of its own: a line that never falls quiet must not hold the kiosk.
    virtual Drained drain() = 0;
    // One byte within `timeoutMs`; nullopt on timeout, and with `closed` set when the
    // connection ended or broke instead.
    virtual std::optional<quint8> readByte(int timeoutMs, bool *closed) = 0;
    // How long the line may still be carrying what was written (a serial port's buffers).
    virtual int lineDelayMs() const = 0;
};

// The link of `settings`: a TCP connection to a network printer's raw port (an address,
// never a name), or a character device (USB printer class, or a serial port set raw at
// the settings' speed).
Result<std::unique_ptr<EscPosLink>> openEscPosLink(const EscPos::Settings &settings, int connectMs);

} // namespace nx7
