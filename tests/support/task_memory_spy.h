#pragma once

#include <windows.h>

// Counts COM task-memory blocks (BSTRs, strings inside VARIANTs) allocated and
// freed, so that a test can tell whether code under test frees every BSTR it
// receives: compare LiveTaskAllocations before and after. The spy is registered
// on first use and stays for the rest of the process, so that one test's leak
// cannot unregister it for the next. The oleaut32 BSTR cache is turned off
// first: with it on, SysFreeString keeps blocks instead of freeing them.
bool EnsureTaskMemorySpy();

// Blocks allocated since the spy was registered and not yet freed.
long LiveTaskAllocations();
