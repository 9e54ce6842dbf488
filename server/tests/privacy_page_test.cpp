#include <gtest/gtest.h>

#include "upload/privacy_page.h"
#include "base/utf8.h"

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
    const char* const titles[] = {"Equipo",
                                  "Identificación",
                                  "Windows",
                                  "Procesador",
                                  "Memoria RAM",
                                  "Bancos de memoria",
                                  "Placa base",
                                  "BIOS",
                                  "Gráfica",
                                  "Pantallas",
                                  "Discos físicos",
                                  "Volúmenes",
                                  "Particiones",
                                  "SMART",
                                  "Salud de discos (Windows moderno)",
                                  "Fiabilidad de discos (Windows moderno)",
                                  "Batería",
                                  "Temperatura ACPI (no necesariamente CPU)",
                                  "Adaptadores de red",
                                  "Sonido",
                                  "Dispositivos con errores",
                                  "Controladores",
                                  "Actualizaciones",
                                  "Seguridad",
                                  "Eventos del sistema (últimos 7 días, máximo 80)",
                                  "Programas instalados"};
    std::string page = renderPrivacyPage(30, "");
    std::size_t at = 0;
    for (const char* title : titles) {
        std::size_t found = page.find("<li>" + std::string(title) + "</li>", at);
        ASSERT_NE(found, std::string::npos) << title;
        at = found + 1;
    }
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
