#include "accesslog.h"

Q_LOGGING_CATEGORY(lcAccess, "nx7.access")
