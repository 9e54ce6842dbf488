#pragma once

#include <windows.h>

#include "server_host_literal.h"

// The collection server's host name, a constant of the build.
extern const WCHAR serverHost[];
