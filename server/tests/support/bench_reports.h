#pragma once

#include <functional>
#include <string>
#include <vector>

// What the benchmark programs share: a database of many stored reports, and
// timings printed as median, 95th percentile and longest.
namespace zeq::test {

// Stores count sample reports in a new database at path, as the service
// stores them (the reports and their listing), in one transaction for speed:
// eight machine models, three reports per machine, one a minute. Returns the
// receipt codes, oldest first.
std::vector<std::string> fillReports(const std::string& path, long count);

// A receipt code as a person types it: lower case, no hyphens.
std::string lowerWithoutHyphens(const std::string& code);

// Prints the median, 95th percentile and longest of `runs` runs of work (which
// returns how many rows it found), in ms.
void measure(const char* what, int runs, const std::function<std::size_t()>& work);

} // namespace zeq::test
