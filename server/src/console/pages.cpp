#include "console/pages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/request_log.h"
#include "store/receipt_code.h"
#include "console/html.h"
#include "findings/findings.h"
#include "findings/machine_identity.h"
#include "findings/member_units.h"
#include "findings/report_dates.h"
#include "findings/report_text.h"
#include "findings/report_view.h"
#include "findings/units.h"

namespace zeq::console {

namespace {

using json = nlohmann::json;
using findings::Section;
using findings::SectionState;
using findings::SectionView;

constexpr std::string_view kStyle = R"css(:root { color-scheme: light; }
body { font: 16px/1.45 system-ui, sans-serif; margin: 0; color: #1b1b1b; background: #fff; }
header { display: flex; flex-wrap: wrap; gap: .5em 1em; align-items: center;
  padding: .6em 1em; background: #16325c; color: #fff; }
header a { color: #fff; font-weight: bold; text-decoration: none; }
header .quien { margin-left: auto; }
header form { display: inline; }
main { max-width: 72em; margin: 0 auto; padding: 1em; }
h1 { font-size: 1.5em; margin: .2em 0 .6em; }
h2 { font-size: 1.2em; margin: 1.4em 0 .4em; border-bottom: 1px solid #ccd; }
h3 { font-size: 1em; margin: 0 0 .3em; }
a { color: #0b4fa8; }
button, input { font: inherit; }
input[type=text], input[type=password], input[type=search] { padding: .4em; width: 100%;
  max-width: 22em; box-sizing: border-box; border: 1px solid #889; border-radius: 3px; }
button { padding: .4em 1em; border: 1px solid #16325c; background: #16325c; color: #fff;
  border-radius: 3px; cursor: pointer; }
header button { background: transparent; border-color: #fff; padding: .2em .6em; }
button.peligro { background: #a4161a; border-color: #a4161a; }
label { display: block; margin: .6em 0 .2em; }
.aviso-pagina { padding: .6em .8em; border-left: 4px solid #a4161a; background: #fbeaea; }
.nota { padding: .6em .8em; border-left: 4px solid #16325c; background: #eef2f8; }
dl.datos { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; }
dl.datos dt { font-weight: bold; }
dl.datos dd { margin: 0; overflow-wrap: anywhere; }
.acciones { display: flex; flex-wrap: wrap; gap: .8em; margin: 1em 0; }
.hallazgo { border: 1px solid #ccd; border-left-width: 6px; border-radius: 3px;
  padding: .5em .8em; margin: .6em 0; break-inside: avoid; }
.hallazgo.critico { border-left-color: #a4161a; }
.hallazgo.aviso { border-left-color: #c77c02; }
.hallazgo.info { border-left-color: #5a6b82; }
.gravedad { font-size: .8em; font-weight: bold; text-transform: uppercase; padding: .1em .4em;
  border-radius: 3px; color: #fff; background: #5a6b82; }
.critico .gravedad { background: #a4161a; }
.aviso .gravedad { background: #9a5d00; }
.hallazgo ul { margin: .3em 0; padding-left: 1.2em; }
.tabla { overflow-x: auto; }
table { border-collapse: collapse; font-size: .9em; margin: .4em 0; }
th, td { border: 1px solid #ccd; padding: .25em .5em; text-align: left; vertical-align: top; }
th { background: #eef2f8; }
td { overflow-wrap: break-word; }
table.ficha th { width: 16em; }
form[role=search] { margin-bottom: 1em; }
@media (max-width: 40em) {
  table.informes thead { display: none; }
  table.informes, table.informes tbody { display: block; }
  table.informes tr { display: block; border: 1px solid #ccd; margin: 0 0 .5em; padding: .3em; }
  table.informes td { display: inline-block; border: none; padding: .1em .4em; }
  table.informes td.critico::before { content: "Críticos: "; }
  table.informes td.aviso::before { content: "Avisos: "; }
  dl.datos { grid-template-columns: 1fr; }
  dl.datos dd { margin-bottom: .4em; }
  table.ficha th { width: auto; }
}
.num, .codigo { white-space: nowrap; }
.num { text-align: right; }
td.critico.destaca { color: #a4161a; font-weight: bold; }
td.aviso.destaca { color: #9a5d00; font-weight: bold; }
.importado { font-size: .8em; padding: .05em .4em; border: 1px solid #5a6b82; border-radius: 3px;
  color: #3a4b62; }
.paginas { display: flex; gap: 1em; margin: 1em 0; }
@media print {
  header, .acciones, form, .paginas { display: none; }
  main { max-width: none; padding: 0; }
  .tabla { overflow: visible; }
  a { color: inherit; text-decoration: none; }
}
)css";

constexpr std::string_view kIcon =
    R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16"><rect width="16" height="16" rx="3" fill="#16325c"/><path d="M4 4h8v2l-5 4h5v2H4v-2l5-4H4z" fill="#fff"/></svg>)svg";

std::string document(std::string_view title, const Html& header, const Html& body) {
    Html page = Html::literal("<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
                              "<meta name=\"viewport\" content=\"width=device-width, "
                              "initial-scale=1\"><title>") +
                text(title) +
                Html::literal(" · Consola de informes</title><link rel=\"stylesheet\" "
                              "href=\"/estilo.css\"><link rel=\"icon\" type=\"image/svg+xml\" "
                              "href=\"/icono.svg\"></head><body>") +
                header;
    page.open("main") += body;
    page.close("main") += Html::literal("</body></html>\n");
    return std::move(page).take();
}

Html hiddenToken(std::string_view formToken) {
    return voidElement("input",
                       {{"type", "hidden"}, {"name", "token"}, {"value", std::string(formToken)}});
}

Html siteHeader(const Visitor& visitor) {
    Html logout = element("form", {{"method", "post"}, {"action", "/salir"}},
                          hiddenToken(visitor.formToken) +
                              element("button", {{"type", "submit"}}, text("Salir")));
    return element("header", element("a", {{"href", "/"}}, text("Informes")) +
                                 element("span", {{"class", "quien"}}, text(visitor.technician)) +
                                 logout);
}

Html plainHeader() {
    return element("header", element("span", text("Consola de informes")));
}

std::string utcTime(std::int64_t seconds) {
    return formatUtcTime(seconds) + " UTC";
}

std::string sizeText(std::int64_t bytes) {
    return bytes < 0 ? std::string("?") : findings::formatBytes(static_cast<std::uint64_t>(bytes));
}

Html definition(std::string_view term, std::string_view value) {
    return element("dt", text(term)) + element("dd", text(value));
}

// Notices and warnings are optional on every page: none, no paragraph.
Html paragraphIfAny(const char* cssClass, std::string_view message) {
    return message.empty() ? Html() : element("p", {{"class", cssClass}}, text(message));
}

// --- the report page ---

std::string envelopeText(const json& report, const char* member) {
    auto found = report.is_object() ? report.find(member) : report.end();
    if (!report.is_object() || found == report.end() || !found->is_string()) {
        return "(no disponible)";
    }
    return findings::plainText(found->get_ref<const json::string_t&>(), 80);
}

std::string collectedText(const json& report) {
    if (!report.is_object()) {
        return "(no disponible)";
    }
    std::optional<std::int64_t> at = findings::ReportView(report).collectedAt();
    return at ? utcTime(*at) : envelopeText(report, "collected_at");
}

std::string elevatedText(const json& report) {
    if (!report.is_object()) {
        return "(no disponible)";
    }
    std::optional<bool> elevated = findings::ReportView(report).elevated();
    return elevated == true ? "sí" : elevated == false ? "no" : "(no disponible)";
}

std::string importedText(const ListedReport& report) {
    return "importado por " + report.importedBy.value_or("?") + " el " +
           (report.importedAt ? utcTime(*report.importedAt) : std::string("?"));
}

Html reportHeader(const ReadReport& stored, const json& report) {
    const ListedReport& listing = stored.listing;
    Html facts =
        definition("Recibido", utcTime(listing.receivedAt)) +
        definition("Recogido", collectedText(report)) +
        definition("report_id", envelopeText(report, "report_id")) +
        definition("Ejecutado como administrador", elevatedText(report)) +
        definition("Dirección del cliente", !stored.clientAddress.empty() ? stored.clientAddress
                                            : listing.importedBy
                                                ? std::string("(importado: no se subió por la red)")
                                                : std::string("(ninguna)")) +
        definition("Tamaño", sizeText(listing.size));
    if (listing.importedBy) {
        facts += definition("Importado", importedText(listing));
    }
    std::string base = "/informe/" + listing.code;
    Html actions = element(
        "div", {{"class", "acciones"}},
        element("a", {{"href", base + "/descargar"}, {"download", ""}}, text("Descargar el JSON")) +
            element("a", {{"href", base + "/borrar"}}, text("Borrar…")));
    return element("h1", text("Informe " + listing.code)) +
           element("dl", {{"class", "datos"}}, facts) + actions;
}

const char* severityClass(findings::Severity severity) {
    switch (severity) {
    case findings::Severity::Critical:
        return "hallazgo critico";
    case findings::Severity::Warning:
        return "hallazgo aviso";
    case findings::Severity::Info:
        break;
    }
    return "hallazgo info";
}

Html findingBlock(const findings::Finding& finding) {
    Html evidence;
    for (const findings::Evidence& e : finding.evidence) {
        evidence += element("li", text(findings::evidencePlace(e) + ": " + e.value));
    }
    Html block = element("h3", element("span", {{"class", "gravedad"}},
                                       text(findings::severityLabel(finding.severity))) +
                                   text(" " + finding.title));
    if (!finding.evidence.empty()) {
        block += element("ul", evidence);
    }
    if (!finding.advice.empty()) {
        block += element("p", text("Qué hacer: " + finding.advice));
    }
    return element("article", {{"class", severityClass(finding.severity)}}, block);
}

Html findingsBlock(const std::vector<findings::Finding>& list) {
    Html block = element("h2", {{"id", "hallazgos"}}, text("Hallazgos")) +
                 element("p", text(findings::countsText(findings::countFindings(list))));
    if (list.empty()) {
        block += element("p", text("Nada que señalar."));
    }
    for (const findings::Finding& finding : list) {
        block += findingBlock(finding);
    }
    return block;
}

// A section's error member in words the technician can act on.
std::string sectionNote(const SectionView& view) {
    switch (view.state()) {
    case SectionState::Missing:
        return "El informe no trae esta sección, o no se puede leer.";
    case SectionState::Unavailable: {
        std::uint32_t code = view.hresult().value_or(0);
        if (code == 0x80041003u || code == 0x80070005u) {
            return "No se pudo leer: Windows denegó el acceso (" + findings::formatHresult(code) +
                   "). Recoja el informe de nuevo ejecutando la herramienta como administrador.";
        }
        if (code == 0x8004100Eu || code == 0x80041010u) {
            return "No se pudo leer: este Windows no tiene esa información (" +
                   findings::formatHresult(code) + ").";
        }
        return "No se pudo leer: Windows respondió con un error (" +
               (view.hresult() ? findings::formatHresult(code)
                               : findings::plainText(view.errorText(), 300)) +
               ").";
    }
    case SectionState::Partial:
        return "Listado incompleto: " + findings::plainText(view.errorText(), 300);
    case SectionState::Unknown:
        return "Nota del informe: " + (view.errorText().empty()
                                           ? std::string("(no es un texto)")
                                           : findings::plainText(view.errorText(), 300));
    case SectionState::Complete:
        break;
    }
    return view.errorText().empty() ? std::string()
                                    : "Nota: " + findings::plainText(view.errorText(), 300);
}

// A section of one row (the machine, Windows, the BIOS...) as a card of
// member and value, which reads better than one very wide row.
void appendCardTable(Html& out, Section section, const json& row) {
    out.open("div", {{"class", "tabla"}}).open("table", {{"class", "ficha"}}).open("tbody");
    for (const auto& item : row.items()) {
        out.open("tr").open("th").appendText(findings::plainText(item.key(), 80)).close("th");
        out.open("td")
            .appendText(findings::readableValue(section, item.key(), item.value()))
            .close("td")
            .close("tr");
    }
    out.close("tbody").close("table").close("div");
}

// One column per member, in the order members first appear, up to
// kMaxColumns; members beyond those (no section Windows writes has that many,
// but a report may say anything) are listed in a last cell of their row, so
// the table grows with the report and not with rows times members.
constexpr std::size_t kMaxColumns = 32;

void appendRowsTable(Html& out, Section section, const json& rows) {
    if (rows.size() == 1 && rows[0].is_object()) {
        appendCardTable(out, section, rows[0]);
        return;
    }
    // Rows of a section nearly always carry the same members in the same
    // order, so each key is first compared with the one expected at its place
    // and searched for only when that differs.
    std::vector<std::string> members;
    bool overflow = false;
    for (const json& row : rows) {
        if (!row.is_object()) {
            continue;
        }
        std::size_t expected = 0;
        for (const auto& item : row.items()) {
            if (expected < members.size() && members[expected] == item.key()) {
                ++expected;
                continue;
            }
            auto known = std::find(members.begin(), members.end(), item.key());
            if (known != members.end()) {
                expected = static_cast<std::size_t>(known - members.begin()) + 1;
            } else if (members.size() < kMaxColumns) {
                members.push_back(item.key());
                expected = members.size();
            } else {
                overflow = true;
            }
        }
    }
    out.open("div", {{"class", "tabla"}}).open("table").open("thead").open("tr");
    out.open("th").appendText("#").close("th");
    for (const std::string& member : members) {
        out.open("th").appendText(findings::plainText(member, 80)).close("th");
    }
    if (overflow) {
        out.open("th").appendText("Otros miembros").close("th");
    }
    out.close("tr").close("thead").open("tbody");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const json& row = rows[r];
        out.open("tr").open("td", {{"class", "num"}}).appendText(std::to_string(r + 1)).close("td");
        if (!row.is_object()) {
            out.open("td").appendText("(no es un objeto)").close("td");
        }
        auto next = row.is_object() ? row.begin() : row.end();
        for (std::size_t m = 0; row.is_object() && m < members.size(); ++m) {
            auto value =
                next != row.end() && next.key() == members[m] ? next++ : row.find(members[m]);
            if (value != row.end()) {
                next = std::next(value);
            }
            out.open("td");
            if (value != row.end()) {
                out.appendText(findings::readableValue(section, members[m], *value));
            }
            out.close("td");
        }
        if (overflow && row.is_object()) {
            out.open("td");
            const char* separator = "";
            for (const auto& item : row.items()) {
                if (std::find(members.begin(), members.end(), item.key()) == members.end()) {
                    out.appendText(separator)
                        .appendText(findings::plainText(item.key(), 80))
                        .appendText(": ")
                        .appendText(findings::readableValue(section, item.key(), item.value()));
                    separator = "; ";
                }
            }
            out.close("td");
        }
        out.close("tr");
    }
    out.close("tbody").close("table").close("div");
}

void appendSections(Html& out, const json& report) {
    findings::ReportView view(report);
    for (std::size_t i = 0; i < findings::kSectionCount; ++i) {
        auto section = static_cast<Section>(i);
        SectionView sectionView = view.section(section);
        out.open("section", {{"id", "seccion-" + std::to_string(i + 1)}});
        out.open("h2")
            .appendText(std::to_string(i + 1) + ". " + std::string(findings::sectionTitle(section)))
            .close("h2");
        out += paragraphIfAny("nota", sectionNote(sectionView));
        const json* rows = sectionView.rows();
        if (rows != nullptr && rows->empty()) {
            out.open("p").appendText("Sin filas.").close("p");
        } else if (rows != nullptr) {
            appendRowsTable(out, section, *rows);
        }
        out.close("section");
    }
}

std::string urlEncoded(std::string_view value) {
    std::string encoded;
    for (char c : value) {
        auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.') {
            encoded += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            encoded += hex;
        }
    }
    return encoded;
}

Html pageLink(std::string_view search, const char* direction, const ListCursor& cursor,
              const char* label) {
    std::string href = std::string("/?") + direction + "=" + cursorText(cursor);
    if (!search.empty()) {
        href += "&q=" + urlEncoded(search);
    }
    return element("a", {{"href", href}, {"rel", direction[0] == 'a' ? "prev" : "next"}},
                   text(label));
}

// Firmware that was never given a name says "To be filled by O.E.M." or
// "System Product Name"; such a text names no machine and is left out.
std::string machineText(const ListedReport& report) {
    std::string machine;
    auto add = [&machine](const std::optional<std::string>& part, std::size_t maxBytes) {
        if (part && !findings::isPlaceholderIdentity(*part)) {
            machine += (machine.empty() ? "" : " ") + findings::plainText(*part, maxBytes);
        }
    };
    add(report.manufacturer, 60);
    add(report.model, 80);
    return machine.empty() ? std::string("(sin marca ni modelo)") : machine;
}

std::string countText(const std::optional<std::int64_t>& count) {
    return count ? std::to_string(*count) : std::string("?");
}

// Only counts above zero stand out.
Html countCell(const std::optional<std::int64_t>& count, const char* kind) {
    return element("td", {{"class", std::string(kind) + (count.value_or(0) > 0 ? " destaca" : "")}},
                   text(countText(count)));
}

Html codeCell(const ListedReport& report) {
    Html cell = element("a", {{"href", "/informe/" + report.code}}, text(report.code));
    if (report.importedBy) {
        cell +=
            text(" ") + element("span", {{"class", "importado"}, {"title", importedText(report)}},
                                text("importado"));
    }
    return element("td", {{"class", "codigo"}}, cell);
}

// The lines of a list of reports: the list page's and the same machine's.
Html reportsTable(const std::vector<ListedReport>& reports) {
    Html rows;
    for (const ListedReport& report : reports) {
        rows += element(
            "tr",
            element("td", text(utcTime(report.receivedAt))) + codeCell(report) +
                element("td", text(machineText(report))) +
                element("td", text(findings::plainText(report.windowsCaption.value_or(""), 80))) +
                countCell(report.critical, "num critico") + countCell(report.warning, "num aviso") +
                element("td", {{"class", "num"}}, text(sizeText(report.size))));
    }
    Html head = element("th", text("Recibido")) + element("th", text("Código")) +
                element("th", text("Equipo")) + element("th", text("Windows")) +
                element("th", {{"class", "num"}}, text("Críticos")) +
                element("th", {{"class", "num"}}, text("Avisos")) +
                element("th", {{"class", "num"}}, text("Tamaño"));
    return element("div", {{"class", "tabla"}},
                   element("table", {{"class", "informes"}},
                           element("thead", element("tr", head)) + element("tbody", rows)));
}

} // namespace

std::string_view styleSheet() {
    return kStyle;
}

std::string_view icon() {
    return kIcon;
}

std::string loginPage(std::string_view formToken, std::string_view message,
                      std::string_view typedName) {
    Html form =
        element("form", {{"method", "post"}, {"action", "/entrar"}},
                hiddenToken(formToken) + element("label", {{"for", "nombre"}}, text("Nombre")) +
                    voidElement("input", {{"type", "text"},
                                          {"id", "nombre"},
                                          {"name", "nombre"},
                                          {"value", std::string(typedName)},
                                          {"autocomplete", "username"},
                                          {"autocapitalize", "none"},
                                          {"required", "required"}}) +
                    element("label", {{"for", "clave"}}, text("Contraseña")) +
                    voidElement("input", {{"type", "password"},
                                          {"id", "clave"},
                                          {"name", "clave"},
                                          {"autocomplete", "current-password"},
                                          {"required", "required"}}) +
                    element("p", element("button", {{"type", "submit"}}, text("Entrar"))));
    Html body = element("h1", text("Entrar")) + paragraphIfAny("aviso-pagina", message);
    return document("Entrar", plainHeader(), body + form);
}

std::string messagePage(std::string_view title, std::string_view message) {
    return document(title, plainHeader(),
                    element("h1", text(title)) + element("p", text(message)) +
                        element("p", element("a", {{"href", "/"}}, text("Volver a los informes"))));
}

std::string listPage(const Visitor& visitor, const ListPage& listing, std::string_view search,
                     std::string_view notice) {
    Html body = element("h1", text("Informes")) + paragraphIfAny("nota", notice);
    body +=
        element("form", {{"method", "get"}, {"action", "/"}, {"role", "search"}},
                element("label", {{"for", "q"}},
                        text("Buscar por código de recibo, fabricante, modelo o número de serie")) +
                    voidElement("input", {{"type", "search"},
                                          {"id", "q"},
                                          {"name", "q"},
                                          {"value", std::string(search)},
                                          {"placeholder", "ZEQ-1A2B-3C4D-5E6F"}}) +
                    text(" ") + element("button", {{"type", "submit"}}, text("Buscar")));
    body += element("p", element("a", {{"href", "/importar"}}, text("Importar un informe…")));
    if (listing.reports.empty()) {
        body += element("p", text(search.empty() ? "No hay informes guardados."
                                                 : "Ningún informe coincide con la búsqueda."));
    } else {
        body += reportsTable(listing.reports);
    }
    Html pages;
    if (listing.newer) {
        pages += pageLink(search, "antes", *listing.newer, "← Más recientes");
    }
    if (listing.older) {
        pages += pageLink(search, "despues", *listing.older, "Más antiguos →");
    }
    if (!pages.str().empty()) {
        body += element("nav", {{"class", "paginas"}}, pages);
    }
    return document("Informes", siteHeader(visitor), body);
}

std::string reportPage(const Visitor& visitor, const ReadReport& report,
                       const std::vector<ListedReport>& sameMachine, std::string_view notice) {
    json parsed = findings::parseReport(report.body);
    Html body = reportHeader(report, parsed) + paragraphIfAny("nota", notice);
    body += findingsBlock(findings::findingsOf(parsed));
    Html others = element("h2", {{"id", "mismo-equipo"}}, text("Otros informes del mismo equipo"));
    if (sameMachine.empty()) {
        others +=
            element("p", text(report.listing.machineUuid || report.listing.serial
                                  ? "Ninguno."
                                  : "El equipo no da un UUID ni un número de serie propios."));
    } else {
        others += reportsTable(sameMachine);
    }
    body += element("section", others);
    if (parsed.is_object()) {
        appendSections(body, parsed);
    }
    return document("Informe " + report.listing.code, siteHeader(visitor), body);
}

std::string deletePage(const Visitor& visitor, const ListedReport& report) {
    std::string base = "/informe/" + report.code;
    Html body = element("h1", text("¿Borrar el informe " + report.code + "?")) +
                element("p", text("Recibido el " + utcTime(report.receivedAt) +
                                  ". El informe se borra del servidor y no se puede recuperar; el "
                                  "registro de auditoría conserva que lo borró usted.")) +
                element("form", {{"method", "post"}, {"action", base + "/borrar"}},
                        hiddenToken(visitor.formToken) +
                            element("div", {{"class", "acciones"}},
                                    element("button", {{"type", "submit"}, {"class", "peligro"}},
                                            text("Borrar definitivamente")) +
                                        element("a", {{"href", base}}, text("Cancelar"))));
    return document("Borrar " + report.code, siteHeader(visitor), body);
}

std::string importPage(const Visitor& visitor, std::string_view message) {
    Html body =
        element("h1", text("Importar un informe")) + paragraphIfAny("aviso-pagina", message);
    body += element("p", text("Cuando el envío falla, la herramienta guarda el informe en un "
                              "archivo que le pueden hacer llegar por correo o en una memoria "
                              "USB. Se comprueba igual que un envío y queda marcado como "
                              "importado por usted."));
    body += element(
        "form", {{"method", "post"}, {"action", "/importar"}, {"enctype", "multipart/form-data"}},
        hiddenToken(visitor.formToken) +
            element("label", {{"for", "informe"}},
                    text("Archivo del informe (JSON, hasta 2 MiB)")) +
            voidElement("input", {{"type", "file"},
                                  {"id", "informe"},
                                  {"name", "informe"},
                                  {"accept", ".json,application/json"},
                                  {"required", "required"}}) +
            element("p", element("button", {{"type", "submit"}}, text("Importar"))));
    return document("Importar", siteHeader(visitor), body);
}

std::string cursorText(const ListCursor& cursor) {
    return std::to_string(cursor.receivedAt) + "." + cursor.code;
}

std::optional<ListCursor> cursorFrom(std::string_view text) {
    std::size_t dot = text.find('.');
    std::string_view time = text.substr(0, dot);
    if (dot == std::string_view::npos || time.empty() || time.size() > 18 ||
        time.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::string code(text.substr(dot + 1));
    if (!isReceiptCode(code)) {
        return std::nullopt;
    }
    return ListCursor{std::stoll(std::string(time)), code};
}

} // namespace zeq::console
