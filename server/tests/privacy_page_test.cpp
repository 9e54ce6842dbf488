#include <gtest/gtest.h>

#include "privacy_page.h"
#include "section_titles.h"
#include "utf8.h"

namespace zeq {
namespace {

TEST(PrivacyPage, IsAMobileFriendlySpanishUtf8Page) {
    std::string page = renderPrivacyPage(30, "");
    EXPECT_TRUE(isValidUtf8(page));
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("<html lang=\"es\">"), std::string::npos);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"),
              std::string::npos);
    EXPECT_NE(page.find("</html>"), std::string::npos);
}

TEST(PrivacyPage, ListsEverySectionOfTheReportInOrder) {
    std::string page = renderPrivacyPage(30, "");
    std::size_t at = 0;
    for (std::string_view title : kSectionTitles) {
        std::size_t found = page.find("<li>" + std::string(title) + "</li>", at);
        ASSERT_NE(found, std::string::npos) << title;
        at = found;
    }
    EXPECT_NE(page.find("<li>Identificación</li>"), std::string::npos);
    EXPECT_NE(page.find("<li>Eventos del sistema (últimos 7 días, máximo 80)</li>"),
              std::string::npos);
}

TEST(PrivacyPage, SaysWhatIsNeverReadHowLongAndWhoSees) {
    std::string page = renderPrivacyPage(30, "");
    for (const char* text : {"documentos", "contraseñas", "historial", "dirección IP",
                             "Solo el técnico que gestiona este servidor."}) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
}

TEST(PrivacyPage, StatesTheConfiguredRetention) {
    struct Case {
        int days;
        const char* text;
    };
    const Case cases[] = {
        {30, "se conserva 30 días"}, {1, "se conserva 1 día "}, {365, "se conserva 365 días"}};
    for (const Case& c : cases) {
        EXPECT_NE(renderPrivacyPage(c.days, "").find(c.text), std::string::npos) << c.days;
    }
}

TEST(PrivacyPage, NamesTheOperatorSafely) {
    std::string page = renderPrivacyPage(30, "Ana <Pérez> & \"Hijos\"");
    EXPECT_NE(page.find("Solo Ana &lt;Pérez&gt; &amp; &quot;Hijos&quot;, el técnico"),
              std::string::npos);
    EXPECT_EQ(page.find("<Pérez>"), std::string::npos);
}

} // namespace
} // namespace zeq
