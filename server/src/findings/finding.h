#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeq::findings {

// How urgent a finding is, most severe first (the order findings are listed in).
enum class Severity { Critical = 0, Warning = 1, Info = 2 };

// "crítico", "aviso" or "info".
std::string_view severityLabel(Severity severity);

// Where a finding comes from: a section of the report, one of its rows (0-based;
// none when the evidence is about the section as a whole), a member of that row,
// and the member's value in readable units. Texts copied from the report are
// plain text (never HTML), shortened and with control characters replaced
// (report_text.h); whoever renders them escapes them.
struct Evidence {
    std::string section;
    std::optional<std::size_t> row;
    std::string member;
    std::string value;
};

// Where the evidence is, as the technician reads it: "Batería, fila 2, DesignCapacity".
std::string evidencePlace(const Evidence& evidence);

// One thing the technician should know about the machine.
struct Finding {
    Severity severity = Severity::Info;
    std::string rule;  // stable identifier of the rule, e.g. "disk.health"
    std::string title; // short Spanish sentence
    std::vector<Evidence> evidence;
    std::string advice; // what to do, in Spanish; may be empty
};

} // namespace zeq::findings
