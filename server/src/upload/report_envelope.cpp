#include "upload/report_envelope.h"

#include <array>

#include <nlohmann/json.hpp>

#include "base/calendar.h"
#include "base/text_shapes.h"
#include "base/utf8.h"
#include "findings/findings.h"
#include "findings/report_tree.h"

namespace zeq {

namespace {

constexpr std::size_t kMaxClientVersionBytes = 64;

enum class Kind { Null, Boolean, Integer, Float, String, Object, Array };

struct Value {
    Kind kind;
    bool flag = false;          // Boolean
    bool isOne = false;         // Integer equal to 1
    std::string_view text = {}; // String
};

bool isClientVersion(std::string_view text) {
    if (text.empty() || text.size() > kMaxClientVersionBytes) {
        return false;
    }
    for (char c : text) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// One envelope member: its name, what a wrong one is refused as (and with which
// text), and which values are right.
struct MemberRule {
    std::string_view name;
    ReportProblem problem;
    const char* text;
    bool (*accepts)(const Value&);
};

// The members, in the order their problems are reported; Member indexes them.
enum Member { SchemaVersion, ClientVersion, Consent, ReportId, CollectedAt, Elevated, Sections };
constexpr std::array<MemberRule, 7> kMembers = {{
    {"schema_version", ReportProblem::SchemaVersion, "Informe no válido: schema_version.",
     [](const Value& v) { return v.kind == Kind::Integer && v.isOne; }},
    {"client_version", ReportProblem::ClientVersion, "Informe no válido: client_version.",
     [](const Value& v) { return v.kind == Kind::String && isClientVersion(v.text); }},
    {"consent", ReportProblem::Consent, "Informe no válido: consent.",
     [](const Value& v) { return v.kind == Kind::Boolean && v.flag; }},
    {"report_id", ReportProblem::ReportId, "Informe no válido: report_id.",
     [](const Value& v) { return v.kind == Kind::String && isReportId(v.text); }},
    {"collected_at", ReportProblem::CollectedAt, "Informe no válido: collected_at.",
     [](const Value& v) { return v.kind == Kind::String && isCollectedAt(v.text); }},
    {"elevated", ReportProblem::Elevated, "Informe no válido: elevated.",
     [](const Value& v) { return v.kind == Kind::Boolean; }},
    {"sections", ReportProblem::Sections, "Informe no válido: sections.",
     [](const Value& v) { return v.kind == Kind::Array; }},
}};
// Member, the table and ReportProblem list the members in the same order.
constexpr bool membersInProblemOrder() {
    for (std::size_t m = 0; m < kMembers.size(); ++m) {
        if (static_cast<std::size_t>(kMembers[m].problem) !=
            static_cast<std::size_t>(ReportProblem::SchemaVersion) + m) {
            return false;
        }
    }
    return kMembers.size() == Sections + 1;
}
static_assert(membersInProblemOrder());

// Problems of the body as a whole, found before its members are looked at.
struct BodyProblem {
    ReportProblem problem;
    const char* text;
};
constexpr std::array<BodyProblem, 4> kBodyProblems = {{
    {ReportProblem::NotUtf8, "El informe no es UTF-8 válido."},
    {ReportProblem::ByteOrderMark, "El informe empieza con una marca de orden de bytes (BOM)."},
    {ReportProblem::NotJson, "El informe no es JSON válido."},
    {ReportProblem::NotObject, "El informe no es un objeto JSON."},
}};

// The tree findings::parseReport builds, built from the same parser events.
using ReportTree = findings::ReportTreeBuilder;

// Walks the parser's events without building a tree, so a 2 MiB report costs
// no more memory than its bytes and deep nesting cannot exhaust the stack.
// Depth 1 holds the envelope's members, depth 2 the elements of "sections",
// depth 3 the members of one section. Given a tree, it also hands it every
// event (the tree keeps only the shallow levels the findings read).
class EnvelopeSax {
  public:
    using json = nlohmann::json;

    explicit EnvelopeSax(ReportTree* tree = nullptr) : tree_(tree) {}

    bool null() {
        return value({Kind::Null}) && (!tree_ || tree_->null());
    }
    bool boolean(bool v) {
        return value({Kind::Boolean, v}) && (!tree_ || tree_->boolean(v));
    }
    bool number_integer(json::number_integer_t v) {
        return value({Kind::Integer, false, v == 1}) && (!tree_ || tree_->number_integer(v));
    }
    bool number_unsigned(json::number_unsigned_t v) {
        return value({Kind::Integer, false, v == 1}) && (!tree_ || tree_->number_unsigned(v));
    }
    bool number_float(json::number_float_t v, const json::string_t& text) {
        return value({Kind::Float}) && (!tree_ || tree_->number_float(v, text));
    }
    bool string(json::string_t& v) {
        return value({Kind::String, false, false, v}) && (!tree_ || tree_->string(v));
    }
    bool binary(json::binary_t& v) {
        return value({Kind::Null}) && (!tree_ || tree_->binary(v));
    }
    bool start_object(std::size_t elements) {
        value({Kind::Object});
        ++depth_;
        return !tree_ || tree_->start_object(elements);
    }
    bool start_array(std::size_t elements) {
        value({Kind::Array});
        ++depth_;
        return !tree_ || tree_->start_array(elements);
    }
    bool end_object() {
        if (tree_ && !tree_->end_object()) {
            return false;
        }
        --depth_;
        if (depth_ == 2 && inSection_) {
            inSection_ = false;
            if (!sectionHasName_ || !sectionHasRows_) {
                bad_[Sections] = true;
            }
        }
        return true;
    }
    bool end_array() {
        if (tree_ && !tree_->end_array()) {
            return false;
        }
        --depth_;
        if (depth_ == 1 && inSections_) {
            inSections_ = false;
        }
        return true;
    }
    bool key(json::string_t& k) {
        if (tree_ && !tree_->key(k)) {
            return false;
        }
        if (depth_ == 1) {
            memberKey_ = k;
        } else if (depth_ == 3 && inSection_) {
            sectionKey_ = k;
        }
        return true;
    }
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) {
        parseFailed_ = true;
        if (tree_) {
            tree_->parse_error(position, token, error);
        }
        return false;
    }

    EnvelopeCheck result() const {
        EnvelopeCheck check;
        if (parseFailed_) {
            check.problem = ReportProblem::NotJson;
            return check;
        }
        if (!rootIsObject_) {
            check.problem = ReportProblem::NotObject;
            return check;
        }
        for (std::size_t m = 0; m < kMembers.size(); ++m) {
            bool sectionsShort = m == Sections && sectionCount_ != kReportSectionCount;
            if (!seen_[m] || bad_[m] || sectionsShort) {
                check.problem = kMembers[m].problem;
                return check;
            }
        }
        check.reportId = reportId_;
        return check;
    }

  private:
    bool value(const Value& v) {
        if (depth_ == 0) {
            rootIsObject_ = v.kind == Kind::Object;
        } else if (depth_ == 1) {
            member(v);
        } else if (depth_ == 2 && inSections_) {
            sectionElement(v);
        } else if (depth_ == 3 && inSection_) {
            sectionMember(v);
        }
        return true;
    }

    void member(const Value& v) {
        std::size_t m = 0;
        while (m < kMembers.size() && kMembers[m].name != memberKey_) {
            ++m;
        }
        if (m == kMembers.size()) {
            return; // members the server does not use are left alone
        }
        bool ok = kMembers[m].accepts(v);
        if (m == ReportId && ok) {
            reportId_ = std::string(v.text);
        }
        if (m == Sections) {
            inSections_ = ok && !seen_[m];
        }
        if (!ok || seen_[m]) {
            bad_[m] = true;
        }
        seen_[m] = true;
    }

    void sectionElement(const Value& v) {
        ++sectionCount_;
        if (v.kind != Kind::Object) {
            bad_[Sections] = true;
            return;
        }
        inSection_ = true;
        sectionHasName_ = false;
        sectionHasRows_ = false;
    }

    void sectionMember(const Value& v) {
        if (sectionKey_ == "name") {
            bad_[Sections] = bad_[Sections] || sectionHasName_ || v.kind != Kind::String;
            sectionHasName_ = true;
        } else if (sectionKey_ == "rows") {
            bad_[Sections] = bad_[Sections] || sectionHasRows_ || v.kind != Kind::Array;
            sectionHasRows_ = true;
        }
    }

    ReportTree* tree_;
    int depth_ = 0;
    bool parseFailed_ = false;
    bool rootIsObject_ = false;
    std::string memberKey_;
    std::string sectionKey_;
    std::array<bool, kMembers.size()> seen_{};
    std::array<bool, kMembers.size()> bad_{};
    std::string reportId_;
    bool inSections_ = false;
    bool inSection_ = false;
    bool sectionHasName_ = false;
    bool sectionHasRows_ = false;
    std::size_t sectionCount_ = 0;
};

} // namespace

bool isReportId(std::string_view text) {
    return matchesShape(text, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
}

bool isCollectedAt(std::string_view text) {
    if (!matchesShape(text, "DDDD-DD-DDTDD:DD:DDZ")) {
        return false;
    }
    auto number = [text](std::size_t at, std::size_t digits) {
        return static_cast<int>(parseDecimal(text.substr(at, digits), 9999).value_or(0));
    };
    int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    // Windows keeps no date before 1601.
    return year >= 1601 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month) && number(11, 2) <= 23 && number(14, 2) <= 59 &&
           number(17, 2) <= 59;
}

namespace {

EnvelopeCheck checkBody(std::string_view body, findings::ReportOverview* overview) {
    if (!isValidUtf8(body)) {
        return {ReportProblem::NotUtf8, {}};
    }
    if (body.substr(0, 3) == "\xEF\xBB\xBF") {
        return {ReportProblem::ByteOrderMark, {}};
    }
    // The JSON parser stops at a NUL byte as at the end of its input, which
    // would let anything after it be stored unchecked; JSON text has none.
    if (body.find('\0') != std::string_view::npos) {
        return {ReportProblem::NotJson, {}};
    }
    if (!overview) {
        EnvelopeSax sax;
        nlohmann::json::sax_parse(body.begin(), body.end(), &sax);
        return sax.result();
    }
    nlohmann::json parsed;
    ReportTree tree(parsed);
    EnvelopeSax sax(&tree);
    nlohmann::json::sax_parse(body.begin(), body.end(), &sax);
    EnvelopeCheck check = sax.result();
    if (check.problem == ReportProblem::None) {
        *overview = findings::overviewOfParsed(parsed);
    }
    return check;
}

} // namespace

EnvelopeCheck checkReport(std::string_view body) {
    return checkBody(body, nullptr);
}

EnvelopeCheck checkReport(std::string_view body, findings::ReportOverview& overview) {
    return checkBody(body, &overview);
}

const char* describeProblem(ReportProblem problem) {
    for (const BodyProblem& entry : kBodyProblems) {
        if (entry.problem == problem) {
            return entry.text;
        }
    }
    for (const MemberRule& member : kMembers) {
        if (member.problem == problem) {
            return member.text;
        }
    }
    return "Informe no válido.";
}

} // namespace zeq
