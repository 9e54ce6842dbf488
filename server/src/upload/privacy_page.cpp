#include "upload/privacy_page.h"

#include "upload/section_titles.h"

namespace zeq {

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string renderPrivacyPage(int retentionDays, std::string_view operatorName) {
    std::string page = R"html(<!DOCTYPE html>
<html lang="es">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>ZEQ Health: privacidad y alcance</title>
<style>
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; line-height: 1.5;
       max-width: 42rem; margin: 0 auto; padding: 1rem 1.25rem 2rem; color: #1d1d1f; }
h1 { font-size: 1.6rem; margin-bottom: 0.25rem; }
h2 { font-size: 1.15rem; margin-top: 1.75rem; }
li { margin: 0.15rem 0; }
.nota { color: #555; }
</style>
</head>
<body>
<h1>ZEQ Health: privacidad y alcance</h1>
<p class="nota">Un informe para tu técnico. Sin instalar nada.</p>

<h2>Qué hace el programa</h2>
<p>ZEQ Health prepara una descripción técnica de tu ordenador para que tu técnico pueda revisarla.
No instala nada y no queda ejecutándose en segundo plano. Solo empieza a recopilar cuando marcas la
casilla de autorización y pulsas «Comenzar».</p>

<h2>Qué recopila</h2>
<p>El informe consulta Windows (WMI y el registro) y reúne estos apartados:</p>
<ol>
)html";
    for (std::string_view title : kSectionTitles) {
        page += "<li>" + escapeHtml(title) + "</li>\n";
    }
    page += R"html(</ol>
<p>Incluye también la versión del programa, un identificador aleatorio del informe, la fecha y hora
de la recopilación y si tu cuenta tiene permisos de administrador. Algunos apartados contienen
números de serie e identificadores del hardware y de Windows.</p>

<h2>Qué no lee nunca</h2>
<p>No lee tus documentos, fotos ni otros archivos personales, tus contraseñas ni tu historial de
navegación, ni tu correo o tus mensajes. No permite controlar tu ordenador a distancia.</p>

<h2>Cómo se envía y qué guarda este servidor</h2>
<p>El informe viaja cifrado (HTTPS) a este servidor, que responde con un código de recibo. El servidor
guarda el informe tal como llega, junto con la fecha y hora de recepción, su tamaño y la dirección IP
desde la que se envió. Si el envío no se confirma, puedes guardar el informe como fichero JSON y
entregárselo a tu técnico de otra manera.</p>

<h2>Cuánto tiempo se conserva</h2>
<p>)html";
    page += "Cada informe se conserva " + std::to_string(retentionDays) +
            (retentionDays == 1 ? " día" : " días") +
            " desde que llega y después se borra automáticamente.";
    page += R"html( Puedes pedir a tu técnico que lo borre antes;
basta con darle tu código de recibo.</p>

<h2>Quién lo ve</h2>
<p>)html";
    if (operatorName.empty()) {
        page += "Solo el técnico que gestiona este servidor.";
    } else {
        page += "Solo " + escapeHtml(operatorName) + ", el técnico que gestiona este servidor.";
    }
    page += R"html(</p>
</body>
</html>
)html";
    return page;
}

} // namespace zeq
