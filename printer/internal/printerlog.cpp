#include "printerlog.h"

Q_LOGGING_CATEGORY(lcPrinter, "nx7.printer")
