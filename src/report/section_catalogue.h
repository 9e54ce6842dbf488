#pragma once

#include <windows.h>

struct SectionSpec {
    const WCHAR* title;
    const WCHAR* wmiNamespace;
    const WCHAR* query;
    INT32 maxRows;
};

const int kSectionCatalogueRows = 24;
extern const SectionSpec SectionCatalogue[kSectionCatalogueRows];
