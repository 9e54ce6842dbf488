#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

#include "store/report_reader.h"

namespace zeq::console {

// The console's pages, server-rendered Spanish HTML without script. Every value
// (from a report, the store or the request) is escaped by console/html.h.

// Who is signed in, for the header of every page behind the login.
struct Visitor {
    std::string technician;
    std::string formToken; // the anti-forgery token of the session's forms
};

std::string_view styleSheet();
std::string_view icon(); // SVG

// The login form; `message` (may be empty) says why it is shown again.
std::string loginPage(std::string_view formToken, std::string_view message,
                      std::string_view typedName);
// A page that only says something (a refusal, a missing report).
std::string messagePage(std::string_view title, std::string_view message);

// `notice` (may be empty): what the last action did, e.g. a deletion.
std::string listPage(const Visitor& visitor, const ListPage& listing, std::string_view search,
                     std::string_view notice);
// A stored report: the header, findings, then every section in readable
// units, and the other reports of the same machine. `notice` as above.
std::string reportPage(const Visitor& visitor, const ReadReport& report,
                       const std::vector<ListedReport>& sameMachine, std::string_view notice);
std::string deletePage(const Visitor& visitor, const ListedReport& report);
// The form that brings in a report file; `message` (may be empty) says why
// the last one was refused.
std::string importPage(const Visitor& visitor, std::string_view message);

// "/?despues=…" and "/?antes=…" carry a place in the list as TIME.CODE.
std::string cursorText(const ListCursor& cursor);
std::optional<ListCursor> cursorFrom(std::string_view text);

} // namespace zeq::console
