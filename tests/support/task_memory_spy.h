#pragma once

#include <windows.h>

// Counts COM task-memory blocks (BSTRs, strings inside VARIANTs) allocated and
// freed while the spy is registered, so that a test can tell whether code under
// test frees every BSTR it receives. Turns the oleaut32 BSTR cache off first:
// with it on, SysFreeString keeps blocks instead of freeing them.
bool StartTaskMemorySpy();
void StopTaskMemorySpy();

// Blocks allocated since StartTaskMemorySpy and not yet freed.
long LiveTaskAllocations();
// Blocks allocated since StartTaskMemorySpy, freed or not.
long TaskAllocationsMade();
