#include "report/section_catalogue.h"

// The WMI sections of the report, in report order. The property lists of the
// queries become the row keys exactly as written here.
const SectionSpec SectionCatalogue[kSectionCatalogueRows] = {
    {L"Equipo", L"ROOT\\CIMV2",
     L"SELECT Manufacturer,Model,SystemType,TotalPhysicalMemory,NumberOfProcessors,"
     L"NumberOfLogicalProcessors FROM Win32_ComputerSystem",
     4},
    {L"Identificaci\u00f3n", L"ROOT\\CIMV2",
     L"SELECT Vendor,Name,Version,IdentifyingNumber,UUID FROM Win32_ComputerSystemProduct", 4},
    {L"Windows", L"ROOT\\CIMV2",
     L"SELECT Caption,Version,BuildNumber,OSArchitecture,InstallDate,LastBootUpTime,"
     L"FreePhysicalMemory,TotalVisibleMemorySize,FreeVirtualMemory,TotalVirtualMemorySize "
     L"FROM Win32_OperatingSystem",
     4},
    {L"Procesador", L"ROOT\\CIMV2",
     L"SELECT Name,Manufacturer,NumberOfCores,NumberOfLogicalProcessors,MaxClockSpeed,"
     L"CurrentClockSpeed,LoadPercentage,L2CacheSize,L3CacheSize,SocketDesignation,AddressWidth "
     L"FROM Win32_Processor",
     8},
    {L"Memoria RAM", L"ROOT\\CIMV2",
     L"SELECT Manufacturer,PartNumber,SerialNumber,Capacity,Speed,MemoryType,FormFactor,"
     L"DeviceLocator,BankLabel FROM Win32_PhysicalMemory",
     64},
    {L"Bancos de memoria", L"ROOT\\CIMV2",
     L"SELECT MemoryDevices,MaxCapacity,Location FROM Win32_PhysicalMemoryArray", 16},
    {L"Placa base", L"ROOT\\CIMV2",
     L"SELECT Manufacturer,Product,Version,SerialNumber FROM Win32_BaseBoard", 8},
    {L"BIOS", L"ROOT\\CIMV2",
     L"SELECT Manufacturer,SMBIOSBIOSVersion,ReleaseDate,SerialNumber,Version FROM Win32_BIOS", 8},
    {L"Gr\u00e1fica", L"ROOT\\CIMV2",
     L"SELECT Name,AdapterRAM,DriverVersion,DriverDate,VideoProcessor,"
     L"CurrentHorizontalResolution,CurrentVerticalResolution,CurrentRefreshRate,Status "
     L"FROM Win32_VideoController",
     16},
    {L"Pantallas", L"ROOT\\CIMV2",
     L"SELECT Name,MonitorManufacturer,MonitorType,ScreenWidth,ScreenHeight,Status "
     L"FROM Win32_DesktopMonitor",
     16},
    {L"Discos f\u00edsicos", L"ROOT\\CIMV2",
     L"SELECT Model,SerialNumber,Size,InterfaceType,MediaType,FirmwareRevision,Status,"
     L"Partitions,Index FROM Win32_DiskDrive",
     32},
    {L"Vol\u00famenes", L"ROOT\\CIMV2",
     L"SELECT DeviceID,FileSystem,Size,FreeSpace,Status FROM Win32_LogicalDisk WHERE DriveType=3",
     32},
    {L"Particiones", L"ROOT\\CIMV2",
     L"SELECT DiskIndex,Index,Size,StartingOffset,Type,BootPartition,PrimaryPartition "
     L"FROM Win32_DiskPartition",
     64},
    {L"SMART", L"ROOT\\WMI",
     L"SELECT InstanceName,PredictFailure,Reason FROM MSStorageDriver_FailurePredictStatus", 32},
    {L"Salud de discos (Windows moderno)", L"ROOT\\Microsoft\\Windows\\Storage",
     L"SELECT FriendlyName,SerialNumber,MediaType,BusType,Size,HealthStatus FROM MSFT_PhysicalDisk",
     32},
    {L"Fiabilidad de discos (Windows moderno)", L"ROOT\\Microsoft\\Windows\\Storage",
     L"SELECT DeviceId,Temperature,TemperatureMax,Wear,PowerOnHours,ReadErrorsTotal,"
     L"WriteErrorsTotal FROM MSFT_StorageReliabilityCounter",
     32},
    {L"Bater\u00eda", L"ROOT\\CIMV2",
     L"SELECT Name,Status,BatteryStatus,EstimatedChargeRemaining,EstimatedRunTime,DesignCapacity,"
     L"FullChargeCapacity,DesignVoltage FROM Win32_Battery",
     8},
    {L"Temperatura ACPI (no necesariamente CPU)", L"ROOT\\WMI",
     L"SELECT InstanceName,CurrentTemperature,CriticalTripPoint FROM MSAcpi_ThermalZoneTemperature",
     16},
    {L"Adaptadores de red", L"ROOT\\CIMV2",
     L"SELECT Name,Manufacturer,AdapterType,Speed,NetConnectionStatus FROM Win32_NetworkAdapter "
     L"WHERE PhysicalAdapter=True",
     32},
    {L"Sonido", L"ROOT\\CIMV2", L"SELECT Name,Manufacturer,Status FROM Win32_SoundDevice", 32},
    {L"Dispositivos con errores", L"ROOT\\CIMV2",
     L"SELECT Name,Manufacturer,PNPClass,ConfigManagerErrorCode,Status FROM Win32_PnPEntity "
     L"WHERE ConfigManagerErrorCode<>0",
     100},
    {L"Controladores", L"ROOT\\CIMV2",
     L"SELECT DeviceName,DeviceClass,Manufacturer,DriverVersion,DriverDate,IsSigned "
     L"FROM Win32_PnPSignedDriver",
     300},
    {L"Actualizaciones", L"ROOT\\CIMV2",
     L"SELECT HotFixID,Description,InstalledOn FROM Win32_QuickFixEngineering", 200},
    {L"Seguridad", L"ROOT\\SecurityCenter2",
     L"SELECT displayName,productState FROM AntiVirusProduct", 16},
};
