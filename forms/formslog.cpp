#include "formslog.h"

Q_LOGGING_CATEGORY(lcForms, "nx7.forms")
