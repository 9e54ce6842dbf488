#pragma once

#include <string>

// The collector's two error members as they appear in a section's bytes.
const char kPartial[] = ",\"error\":\"Listado parcial: l\xC3\xAD"
                        "mite de registros o tiempo alcanzado.\"";

inline std::string Unavailable(const std::string& hex) {
    return ",\"error\":\"No disponible: WMI 0x" + hex +
           ". Puede requerir permisos o un proveedor compatible.\"";
}
