#include "net/server_host.h"

const WCHAR serverHost[] = ZEQ_SERVER_HOST_LITERAL;
