// The ticket layout reader on any text: never a crash, never an endless loop.
#include "ticketlayout.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList warnings;
    const auto text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)nx7::TicketLayout::parse(text, &warnings);
    return 0;
}
