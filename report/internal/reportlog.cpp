#include "reportlog.h"

Q_LOGGING_CATEGORY(lcReport, "nx7.report")
