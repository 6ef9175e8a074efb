#include "ticketlog.h"

Q_LOGGING_CATEGORY(lcTicket, "nx7.ticket")
