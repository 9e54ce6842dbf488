#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "findings/finding.h"
#include "findings/report_view.h"

// The rule groups. Each reads the report and appends its findings; none
// throws, and none produces a finding from a value that does not say so.
// docs/findings.md describes every rule.
namespace zeq::findings {

using Findings = std::vector<Finding>;

void diskFindings(const ReportView& report, Findings& out);
void spaceFindings(const ReportView& report, Findings& out);
void memoryFindings(const ReportView& report, Findings& out);
void batteryFindings(const ReportView& report, Findings& out);
void thermalFindings(const ReportView& report, Findings& out);
void deviceFindings(const ReportView& report, Findings& out);
void updateFindings(const ReportView& report, Findings& out);
void securityFindings(const ReportView& report, Findings& out);
void supportFindings(const ReportView& report, Findings& out);
void eventFindings(const ReportView& report, Findings& out);
void unreadFindings(const ReportView& report, Findings& out);

// Helpers shared by the rules.

// A report text for a title: plain text (report_text.h) in « ».
std::string inQuotes(std::string_view text);
// "1 evento", "3 eventos", "al menos 80 eventos", "al menos 1 evento".
std::string counted(std::size_t count, std::string_view singular, std::string_view plural,
                    bool atLeast = false);
// A finding without evidence yet.
Finding makeFinding(Severity severity, std::string rule, std::string title, std::string advice);
// A rule that judges one row of a section on its own, by its index.
using RowRule = void (*)(const SectionView& section, std::size_t row, Findings& out);
// Applies the rule to every row of the section.
void eachRowFindings(const ReportView& report, Section section, RowRule rule, Findings& out);

} // namespace zeq::findings
