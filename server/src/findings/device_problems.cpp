#include "findings/device_problems.h"

namespace zeq::findings {

namespace {

// From "Device Manager error messages" (learn.microsoft.com, windows-hardware/
// drivers/install/device-manager-error-messages) and the Win32_PnPEntity
// documentation for the codes below 32 that Device Manager no longer shows.
constexpr DeviceProblem kProblems[] = {
    {1, "CM_PROB_NOT_CONFIGURED", "El dispositivo no está configurado correctamente."},
    {2, "CM_PROB_DEVLOADER_FAILED", "Windows no pudo cargar el controlador del dispositivo."},
    {3, "CM_PROB_OUT_OF_MEMORY",
     "El controlador puede estar dañado, o al sistema le faltan memoria u otros recursos."},
    {4, "CM_PROB_ENTRY_IS_WRONG_TYPE",
     "El dispositivo no funciona bien: un controlador o el registro pueden estar dañados."},
    {5, "CM_PROB_LACKED_ARBITRATOR",
     "El controlador necesita un recurso que Windows no sabe administrar."},
    {6, "CM_PROB_BOOT_CONFIG_CONFLICT",
     "La configuración de arranque del dispositivo entra en conflicto con otros dispositivos."},
    {7, "CM_PROB_FAILED_FILTER", "No se puede filtrar."},
    {8, "CM_PROB_DEVLOADER_NOT_FOUND", "Falta el cargador del controlador del dispositivo."},
    {9, "CM_PROB_INVALID_DATA",
     "Windows no identifica el hardware: no tiene un identificador de hardware válido."},
    {10, "CM_PROB_FAILED_START", "El dispositivo no se puede iniciar."},
    {11, "CM_PROB_LIAR", "El dispositivo ha fallado."},
    {12, "CM_PROB_NORMAL_CONFLICT", "El dispositivo no encuentra recursos libres suficientes."},
    {13, "CM_PROB_NOT_VERIFIED", "Windows no puede verificar los recursos del dispositivo."},
    {14, "CM_PROB_NEED_RESTART", "El dispositivo no funcionará bien hasta reiniciar el equipo."},
    {15, "CM_PROB_REENUMERATION",
     "El dispositivo no funciona bien por un posible problema de reenumeración."},
    {16, "CM_PROB_PARTIAL_LOG_CONF",
     "Windows no identifica todos los recursos que usa el dispositivo."},
    {17, "CM_PROB_UNKNOWN_RESOURCE", "El dispositivo pide un tipo de recurso desconocido."},
    {18, "CM_PROB_REINSTALL", "Hay que volver a instalar los controladores del dispositivo."},
    {19, "CM_PROB_REGISTRY",
     "La información de configuración del dispositivo en el registro está incompleta o dañada."},
    {20, "CM_PROB_VXDLDR", "Fallo al usar el cargador VxD."},
    {21, "CM_PROB_WILL_BE_REMOVED", "Windows está quitando el dispositivo."},
    {22, "CM_PROB_DISABLED", "El dispositivo está deshabilitado."},
    {23, "CM_PROB_DEVLOADER_NOT_READY", "El cargador del dispositivo no está preparado."},
    {24, "CM_PROB_DEVICE_NOT_THERE",
     "El dispositivo no está presente, no funciona bien o le faltan controladores."},
    {25, "CM_PROB_MOVED", "Windows aún está configurando el dispositivo."},
    {26, "CM_PROB_TOO_EARLY", "Windows aún está configurando el dispositivo."},
    {27, "CM_PROB_NO_VALID_LOG_CONF", "El dispositivo no tiene una configuración válida."},
    {28, "CM_PROB_FAILED_INSTALL", "Los controladores del dispositivo no están instalados."},
    {29, "CM_PROB_HARDWARE_DISABLED",
     "El dispositivo está deshabilitado porque el firmware no le dio los recursos necesarios."},
    {30, "CM_PROB_CANT_SHARE_IRQ", "El dispositivo usa una interrupción que ya usa otro."},
    {31, "CM_PROB_FAILED_ADD",
     "El dispositivo no funciona porque Windows no puede cargar sus controladores."},
    {32, "CM_PROB_DISABLED_SERVICE",
     "Un controlador (servicio) del dispositivo está deshabilitado."},
    {33, "CM_PROB_TRANSLATION_FAILED",
     "Windows no puede determinar qué recursos necesita el dispositivo."},
    {34, "CM_PROB_NO_SOFTCONFIG", "Windows no puede determinar la configuración del dispositivo."},
    {35, "CM_PROB_BIOS_TABLE",
     "El firmware del equipo no da información suficiente para configurar el dispositivo."},
    {36, "CM_PROB_IRQ_TRANSLATION_FAILED",
     "El dispositivo pide una interrupción PCI pero está configurado para una ISA (o al revés)."},
    {37, "CM_PROB_FAILED_DRIVER_ENTRY", "Windows no puede inicializar el controlador."},
    {38, "CM_PROB_DRIVER_FAILED_PRIOR_UNLOAD",
     "Windows no puede cargar el controlador: una instancia anterior sigue en memoria."},
    {39, "CM_PROB_DRIVER_FAILED_LOAD",
     "Windows no puede cargar el controlador: puede estar dañado o faltar."},
    {40, "CM_PROB_DRIVER_SERVICE_KEY_INVALID",
     "Falta la clave de servicio del controlador en el registro o es incorrecta."},
    {41, "CM_PROB_LEGACY_SERVICE_NO_DEVICES",
     "El controlador se cargó, pero Windows no encuentra el dispositivo."},
    {42, "CM_PROB_DUPLICATE_DEVICE",
     "Windows no puede cargar el controlador: ya hay un dispositivo duplicado en marcha."},
    {43, "CM_PROB_FAILED_POST_START",
     "Windows ha detenido el dispositivo porque ha informado de problemas."},
    {44, "CM_PROB_HALTED", "Una aplicación o un servicio ha apagado el dispositivo."},
    {45, "CM_PROB_PHANTOM", "El dispositivo no está conectado al equipo ahora."},
    {46, "CM_PROB_SYSTEM_SHUTDOWN",
     "Windows no puede acceder al dispositivo porque el sistema se está apagando."},
    {47, "CM_PROB_HELD_FOR_EJECT",
     "El dispositivo está preparado para quitarlo de forma segura, pero no se ha quitado."},
    {48, "CM_PROB_DRIVER_BLOCKED",
     "Se ha bloqueado el software del dispositivo porque da problemas conocidos con Windows."},
    {49, "CM_PROB_REGISTRY_TOO_LARGE",
     "Windows no puede iniciar dispositivos nuevos: el registro del sistema es demasiado grande."},
    {50, "CM_PROB_SETPROPERTIES_FAILED",
     "Windows no puede aplicar todas las propiedades del dispositivo."},
    {51, "CM_PROB_WAITING_ON_DEPENDENCY",
     "El dispositivo espera a que se inicie otro dispositivo del que depende."},
    {52, "CM_PROB_UNSIGNED_DRIVER",
     "Windows no puede comprobar la firma digital de los controladores del dispositivo."},
    {53, "CM_PROB_USED_BY_DEBUGGER",
     "El dispositivo está reservado para el depurador del núcleo de Windows."},
    {54, "CM_PROB_DEVICE_RESET", "El dispositivo ha fallado y se está reiniciando."},
    {55, "CM_PROB_CONSOLE_LOCKED",
     "El dispositivo no se inicia mientras la consola está bloqueada."},
    {56, "CM_PROB_NEED_CLASS_CONFIG",
     "Windows aún está configurando la clase de este dispositivo."},
    {57, "CM_PROB_GUEST_ASSIGNMENT_FAILED",
     "No se pudo asignar el dispositivo a una máquina virtual."},
};

} // namespace

std::optional<DeviceProblem> findDeviceProblem(std::uint64_t code) {
    for (const DeviceProblem& problem : kProblems) {
        if (problem.code == code) {
            return problem;
        }
    }
    return std::nullopt;
}

} // namespace zeq::findings
