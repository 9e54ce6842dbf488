#pragma once

#include <string>
#include <string_view>

namespace zeq {

// The Spanish privacy page served at /privacy.php: what the tool collects (the
// report's sections), what it never reads, what the server keeps, for how long
// (the configured retention) and who sees it. operatorName, when not empty,
// names the technician who runs the server.
std::string renderPrivacyPage(int retentionDays, std::string_view operatorName);

std::string escapeHtml(std::string_view text);

} // namespace zeq
