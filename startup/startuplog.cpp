#include "startuplog.h"

Q_LOGGING_CATEGORY(lcStartup, "nx7.startup")
