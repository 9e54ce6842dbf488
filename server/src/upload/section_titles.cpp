#include "upload/section_titles.h"

namespace zeq {

const std::array<std::string_view, 26> kSectionTitles = {
    "Equipo",
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
    "Programas instalados",
};

} // namespace zeq
