#include "storelog.h"

Q_LOGGING_CATEGORY(lcStore, "nx7.store")
