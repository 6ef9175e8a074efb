#include "pacelog.h"

Q_LOGGING_CATEGORY(lcPace, "nx7.pace")
