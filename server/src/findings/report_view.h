#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/calendar.h"
#include "findings/finding.h"

namespace zeq::findings {

// The report's 26 sections in report order (upload/section_titles.h holds
// their titles, the sections' "name" in the report).
enum class Section : std::size_t {
    Computer,
    Identification,
    Windows,
    Processor,
    Memory,
    MemoryBanks,
    Baseboard,
    Bios,
    Graphics,
    Displays,
    PhysicalDisks,
    Volumes,
    Partitions,
    Smart,
    DiskHealth,
    DiskReliability,
    Battery,
    AcpiTemperature,
    Network,
    Sound,
    DeviceErrors,
    Drivers,
    Updates,
    Security,
    Events,
    Programs,
};
inline constexpr std::size_t kSectionCount = 26;

std::string_view sectionTitle(Section section);

// What a section's "error" member says about its rows.
enum class SectionState {
    Missing,     // no section of that name, or its "rows" is not an array
    Complete,    // no error member (or, for the programs, the note of a full listing)
    Unavailable, // "No disponible: WMI 0x…": the query failed
    Partial,     // "Listado parcial…": rows were left out
    Unknown,     // an error member the tool never writes: not complete either
};

// One row of a section. Every accessor answers nullopt for a row that is not
// an object, a member that is missing, null or not a JSON string, and (for
// numbers) text that is not decimal digits alone within `max`.
class RowView {
  public:
    explicit RowView(const nlohmann::json* row) : row_(row) {}

    std::optional<std::string_view> text(std::string_view member) const;
    std::optional<std::uint64_t> number(std::string_view member, std::uint64_t max) const;

  private:
    const nlohmann::json* row_;
};

class SectionView {
  public:
    SectionView(Section section, const nlohmann::json* object);

    Section section() const {
        return section_;
    }
    std::string_view title() const {
        return sectionTitle(section_);
    }
    SectionState state() const {
        return state_;
    }
    bool complete() const {
        return state_ == SectionState::Complete;
    }
    // The error member when it is a text (empty otherwise).
    std::string_view errorText() const {
        return errorText_;
    }
    // The WMI HRESULT of an Unavailable section.
    std::optional<std::uint32_t> hresult() const {
        return hresult_;
    }
    std::size_t size() const;
    RowView row(std::size_t index) const;
    // The "rows" array itself, for showing every member; nullptr when Missing.
    const nlohmann::json* rows() const {
        return rows_;
    }

    // Evidence from row `index`, member `member`, with its readable value.
    Evidence evidence(std::size_t index, std::string_view member, std::string value) const;
    // Evidence about the section as a whole.
    Evidence evidence(std::string_view member, std::string value) const;

  private:
    Section section_;
    const nlohmann::json* rows_ = nullptr;
    SectionState state_ = SectionState::Missing;
    std::string_view errorText_;
    std::optional<std::uint32_t> hresult_;
};

// A stored report, read defensively: nothing in it is trusted.
class ReportView {
  public:
    explicit ReportView(const nlohmann::json& report);

    SectionView section(Section section) const;
    // "collected_at" as seconds since 1970-01-01 UTC, and its UTC date.
    std::optional<std::int64_t> collectedAt() const;
    std::optional<CivilDate> collectedDate() const;
    // "elevated" when it is a JSON boolean.
    std::optional<bool> elevated() const;

  private:
    const nlohmann::json& report_;
};

} // namespace zeq::findings
