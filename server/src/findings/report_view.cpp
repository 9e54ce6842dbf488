#include "findings/report_view.h"

#include "base/text_shapes.h"
#include "findings/report_dates.h"
#include "upload/section_titles.h"

namespace zeq::findings {

namespace {

using json = nlohmann::json;

// "No disponible: WMI 0x%08X. Puede requerir permisos o un proveedor compatible."
constexpr std::string_view kUnavailablePrefix = "No disponible: WMI 0x";
constexpr std::string_view kUnavailableSuffix =
    ". Puede requerir permisos o un proveedor compatible.";
constexpr std::string_view kPartialWmi = "Listado parcial: límite de registros o tiempo alcanzado.";
constexpr std::string_view kProgramsComplete =
    "Inventario HKLM: puede incluir duplicados entre vistas. No incluye todos los programas por "
    "usuario ni todas las apps de Microsoft Store.";
constexpr std::string_view kProgramsPartial =
    "Listado parcial. Se consultan programas del equipo (HKLM); no aplicaciones de otros usuarios "
    "ni todas las apps de Microsoft Store.";

static_assert(kSectionCount == kSectionTitles.size());

// The first element of "sections" that is an object named `title`.
const json* findSection(const json& report, std::string_view title) {
    if (!report.is_object()) {
        return nullptr;
    }
    auto sections = report.find("sections");
    if (sections == report.end() || !sections->is_array()) {
        return nullptr;
    }
    for (const json& section : *sections) {
        if (!section.is_object()) {
            continue;
        }
        auto name = section.find("name");
        if (name != section.end() && name->is_string() &&
            name->get_ref<const json::string_t&>() == title) {
            return &section;
        }
    }
    return nullptr;
}

bool isUnavailableText(std::string_view text) {
    return text.size() == kUnavailablePrefix.size() + 8 + kUnavailableSuffix.size() &&
           text.substr(0, kUnavailablePrefix.size()) == kUnavailablePrefix &&
           matchesShape(text.substr(kUnavailablePrefix.size(), 8), "XXXXXXXX") &&
           text.substr(kUnavailablePrefix.size() + 8) == kUnavailableSuffix;
}

const json* member(const json* object, std::string_view name) {
    if (object == nullptr || !object->is_object()) {
        return nullptr;
    }
    auto found = object->find(name);
    return found == object->end() ? nullptr : &*found;
}

} // namespace

std::string_view sectionTitle(Section section) {
    return kSectionTitles[static_cast<std::size_t>(section)];
}

std::optional<std::string_view> RowView::text(std::string_view name) const {
    const json* value = member(row_, name);
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return std::string_view(value->get_ref<const json::string_t&>());
}

std::optional<std::uint64_t> RowView::number(std::string_view name, std::uint64_t max) const {
    std::optional<std::string_view> value = text(name);
    return value ? parseDecimal(*value, max) : std::nullopt;
}

SectionView::SectionView(Section section, const json* object) : section_(section) {
    const json* rows = member(object, "rows");
    if (rows == nullptr || !rows->is_array()) {
        return;
    }
    rows_ = rows;
    const json* error = member(object, "error");
    if (error == nullptr) {
        state_ = SectionState::Complete;
        return;
    }
    if (!error->is_string()) {
        state_ = SectionState::Unknown;
        return;
    }
    errorText_ = error->get_ref<const json::string_t&>();
    if (isUnavailableText(errorText_)) {
        state_ = SectionState::Unavailable;
        hresult_ = static_cast<std::uint32_t>(
            parseHexadecimal(errorText_.substr(kUnavailablePrefix.size(), 8), UINT32_MAX)
                .value_or(0));
    } else if (errorText_ == kPartialWmi || errorText_ == kProgramsPartial) {
        state_ = SectionState::Partial;
    } else if (section == Section::Programs && errorText_ == kProgramsComplete) {
        state_ = SectionState::Complete;
    } else {
        state_ = SectionState::Unknown;
    }
}

std::size_t SectionView::size() const {
    return rows_ == nullptr ? 0 : rows_->size();
}

RowView SectionView::row(std::size_t index) const {
    return RowView(index < size() ? &(*rows_)[index] : nullptr);
}

Evidence SectionView::evidence(std::size_t index, std::string_view name, std::string value) const {
    return {std::string(title()), index, std::string(name), std::move(value)};
}

Evidence SectionView::evidence(std::string_view name, std::string value) const {
    return {std::string(title()), std::nullopt, std::string(name), std::move(value)};
}

ReportView::ReportView(const json& report) : report_(report) {}

SectionView ReportView::section(Section section) const {
    return SectionView(section, findSection(report_, sectionTitle(section)));
}

std::optional<std::int64_t> ReportView::collectedAt() const {
    const json* value = member(&report_, "collected_at");
    if (value == nullptr || !value->is_string()) {
        return std::nullopt;
    }
    return parseCollectedAt(value->get_ref<const json::string_t&>());
}

std::optional<CivilDate> ReportView::collectedDate() const {
    std::optional<std::int64_t> seconds = collectedAt();
    if (!seconds) {
        return std::nullopt;
    }
    constexpr std::int64_t kDay = 86400;
    return civilFromDays(*seconds >= 0 ? *seconds / kDay : (*seconds - (kDay - 1)) / kDay);
}

std::optional<bool> ReportView::elevated() const {
    const json* value = member(&report_, "elevated");
    if (value == nullptr || !value->is_boolean()) {
        return std::nullopt;
    }
    return value->get<bool>();
}

} // namespace zeq::findings
