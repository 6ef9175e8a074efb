// The receipt printer's replies to DLE EOT 1..4 (the first four bytes) and the rest as
// the settings of an "output escpos" line.
#include "escpos.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    nx7::EscPos::StatusReplies replies;
    replies.printer = data[0];
    replies.offlineCause = data[1];
    replies.errorCause = data[2];
    replies.paper = data[3];
    for (int i = 0; i < 4; ++i)
        (void)nx7::EscPos::isStatusReply(data[i]);
    (void)nx7::EscPos::decode(replies);
    QString problem;
    (void)nx7::EscPos::parseSettings(
        QString::fromUtf8(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4)), &problem);
    return 0;
}
