#include "kiosklog.h"

Q_LOGGING_CATEGORY(lcKiosk, "nx7.kiosk")
