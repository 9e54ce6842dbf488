#pragma once

#include <cstddef>
#include <string>

namespace zeq::test {

// A fresh report identifier in the client's form (upper-case, 8-4-4-4-12).
std::string newReportId();
// A deterministic identifier for the n-th report of a run.
std::string reportIdFor(unsigned long long n);

// A report as the Windows tool writes it: the envelope and 26 sections with a
// few rows each. With a size, the installed-programs section is padded so that
// the document has exactly that many bytes (sizes below the natural size are
// not reachable and throw).
std::string sampleReport(const std::string& reportId, std::size_t size = 0);

} // namespace zeq::test
