"""The report's fixed texts, as a receiver of the report sees them."""

SECTION_TITLES = [
    "Equipo", "Identificación", "Windows", "Procesador", "Memoria RAM", "Bancos de memoria",
    "Placa base", "BIOS", "Gráfica", "Pantallas", "Discos físicos", "Volúmenes", "Particiones",
    "SMART", "Salud de discos (Windows moderno)", "Fiabilidad de discos (Windows moderno)",
    "Batería", "Temperatura ACPI (no necesariamente CPU)", "Adaptadores de red", "Sonido",
    "Dispositivos con errores", "Controladores", "Actualizaciones", "Seguridad",
    "Eventos del sistema (últimos 7 días, máximo 80)", "Programas instalados",
]
WMI_FAILURE_PATTERN = (r"^No disponible: WMI 0x[0-9A-F]{8}\. Puede requerir permisos o un "
                       r"proveedor compatible\.$")
WMI_PARTIAL = "Listado parcial: límite de registros o tiempo alcanzado."
PROGRAMS_COMPLETE_NOTE = ("Inventario HKLM: puede incluir duplicados entre vistas. No incluye "
                          "todos los programas por usuario ni todas las apps de Microsoft Store.")
PROGRAMS_PARTIAL_NOTE = ("Listado parcial. Se consultan programas del equipo (HKLM); no "
                         "aplicaciones de otros usuarios ni todas las apps de Microsoft Store.")
