#pragma once

#include <string>

// The whole file, or "" with ok false. Opened shared for writing too, so that a
// polling reader never makes a writer's open fail.
std::string ReadWholeFile(const std::wstring& path, bool* ok);

// Creates or replaces the file with exactly these bytes; false on any failure.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
