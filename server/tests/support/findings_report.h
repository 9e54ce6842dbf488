#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "findings/finding.h"
#include "findings/report_view.h"

namespace zeq::test {

// A report for the findings tests: the envelope and all 26 sections, complete
// and empty (collected 2026-03-10 10:00 UTC, elevated), with rows and errors
// set per section.
class FindingsReport {
  public:
    using Section = findings::Section;

    FindingsReport();

    FindingsReport& row(Section section, nlohmann::json row);
    FindingsReport& rows(Section section, nlohmann::json rows);
    FindingsReport& error(Section section, nlohmann::json error);
    FindingsReport& collectedAt(std::string text);
    FindingsReport& elevated(bool elevated);
    // Sets any envelope member (or removes it with a discarded value).
    FindingsReport& member(const std::string& name, nlohmann::json value);

    const nlohmann::json& json() const {
        return report_;
    }
    std::vector<findings::Finding> findings() const;

  private:
    nlohmann::json& section(Section section);
    nlohmann::json report_;
};

// The findings of one rule (Finding::rule equal to `rule`).
std::vector<findings::Finding> withRule(const std::vector<findings::Finding>& all,
                                        std::string_view rule);
// The findings of rules that start with `prefix` ("disk." for all disk rules).
std::vector<findings::Finding> withPrefix(const std::vector<findings::Finding>& all,
                                          std::string_view prefix);

// One line per finding, "severity rule: title", for failure messages.
std::string describe(const std::vector<findings::Finding>& all);

// The text of a fixture file in tests/fixtures.
std::string fixtureText(const std::string& name);

// Expected severities in the rule tables; kNone: no finding.
inline constexpr std::optional<findings::Severity> kNone = std::nullopt;
inline constexpr std::optional<findings::Severity> kInfo = findings::Severity::Info;
inline constexpr std::optional<findings::Severity> kWarning = findings::Severity::Warning;
inline constexpr std::optional<findings::Severity> kCritical = findings::Severity::Critical;

// A member's value in a table of cases: nullptr stands for JSON null.
inline nlohmann::json text(const char* value) {
    return value == nullptr ? nlohmann::json(nullptr) : nlohmann::json(value);
}

// A case's text in a failure message.
inline const char* orNull(const char* value) {
    return value == nullptr ? "null" : value;
}

// The severity of the one finding in `found`, none when empty. Header-only so
// that the benchmarks, which share this library without GoogleTest, link.
inline std::optional<findings::Severity> onlySeverity(const std::vector<findings::Finding>& found) {
    if (found.size() > 1) {
        ADD_FAILURE() << "more than one finding:\n" << describe(found);
    }
    return found.empty() ? std::nullopt : std::optional(found.front().severity);
}

} // namespace zeq::test
