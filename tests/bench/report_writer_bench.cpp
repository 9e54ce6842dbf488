// Throughput of AppendJsonString and number of heap reallocations while a report grows from
// empty to the 8 MiB ceiling, built from many short texts like those the collectors append.
// Usage: report_writer_bench [rounds]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "report/report_buffer.h"
#include "support/test_heap.h"

namespace {

// Short ASCII, accented and escape-bearing texts, as section titles, property names and values.
const WCHAR* const kTexts[] = {
    L"Nombre",
    L"Versión",
    L"Fabricante",
    L"Sistema operativo",
    L"Memoria física total",
    L"Configuración regional",
    L"Año de instalación",
    L"16777216",
    L"True",
    L"10.0.19045",
    L"C:\\Archivos de programa\\Herramienta\\bin\\herramienta.exe",
    L"Controlador de pantalla \"genérico\"",
    L"Línea 1\r\nLínea 2\tfin",
    L"Dirección IP",
    L"192.168.1.20",
    L"Adaptador de red Ethernet",
    L"Señal débil; reintentar más tarde…",
    L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Empresa",
    L"ÁÉÍÓÚ áéíóú ñÑ üÜ ¿¡",
    L"Disco local (C:)",
    L"NTFS",
    L"512105074688",
    L"Servicio de actualización automática",
    L"",
};

// Longer values (descriptions, paths, device and program names), to show how the rate grows
// when the fixed cost per text is spread over more bytes.
const WCHAR* const kLongTexts[] = {
    L"Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz, 8 núcleos, 16 procesadores lógicos",
    L"C:\\Program Files (x86)\\Compañía de Software\\Herramienta de diagnóstico\\bin\\diag.exe",
    L"Controlador de pantalla básico de Microsoft \"WDDM\" versión 10.0.19041.1 (firmado)",
    L"Adaptador de red Realtek PCIe GbE Family Controller #2 - Conexión de área local",
    L"Actualización acumulativa de seguridad para Windows 10 Version 22H2 (KB5034441)\r\n",
    L"Dispositivo de almacenamiento masivo USB; el controlador no se pudo cargar (código 39)",
    L"Microsoft Visual C++ 2015-2022 Redistributable (x64) - 14.38.33130 — Microsoft Corporation",
    L"El servicio Cliente de directiva de grupo no pudo iniciarse a tiempo.\tReintento en 30 s…",
};

// The text set being measured.
const WCHAR* const* gTexts = kTexts;
int gTextCount = sizeof(kTexts) / sizeof(kTexts[0]);
const int kMaxTextCount = sizeof(kTexts) / sizeof(kTexts[0]);
static_assert(sizeof(kLongTexts) <= sizeof(kTexts), "kMaxTextCount bounds every text set");

// One append per piece, taken literally, to show what batching the plain runs gains.
void PiecewiseAppendJsonString(ReportBuffer* buffer, const WCHAR* text) {
    static const char hex[] = "0123456789abcdef";
    AppendBytes(buffer, "\"", 1);
    int units = lstrlenW(text);
    if (units > 0) {
        int size = WideCharToMultiByte(CP_UTF8, 0, text, units, NULL, 0, NULL, NULL);
        char* scratch = (char*)reportHeap->alloc(size + 1);
        if (scratch == NULL) {
            buffer->failed = true;
            return;
        }
        int written = WideCharToMultiByte(CP_UTF8, 0, text, units, scratch, size, NULL, NULL);
        for (int i = 0; i < written; ++i) {
            unsigned char b = (unsigned char)scratch[i];
            if (b == '"' || b == '\\') {
                char escape[2] = {'\\', (char)b};
                AppendBytes(buffer, escape, 2);
            } else if (b < 0x20) {
                char escape[6] = {'\\', 'u', '0', '0', hex[b >> 4], hex[b & 0xF]};
                AppendBytes(buffer, escape, 6);
            } else {
                AppendBytes(buffer, &b, 1);
            }
        }
        reportHeap->free(scratch);
    }
    AppendBytes(buffer, "\"", 1);
}

struct RoundResult {
    double seconds;
    double inputBytes; // UTF-8 bytes of the texts appended whole
    double outputBytes;
    int texts;
    TestHeapState heap;
};

// With pregrown set, the round starts from a block that an untimed fill has already grown to the
// ceiling: no reallocation and no fresh pages, only the appending itself.
RoundResult RunRound(void (*append)(ReportBuffer*, const WCHAR*), const int* utf8Sizes,
                     bool pregrown) {
    ReportBuffer buffer = {};
    RoundResult result = {};
    for (int i = 0; pregrown && !buffer.failed; ++i) {
        append(&buffer, gTexts[i % gTextCount]);
    }
    if (pregrown) {
        buffer.length = 0;
        buffer.failed = false;
        buffer.data[0] = 0;
    }
    testHeap = TestHeapState();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0;; ++i) {
        append(&buffer, gTexts[i % gTextCount]);
        if (buffer.failed) {
            break;
        }
        result.inputBytes += utf8Sizes[i % gTextCount];
        ++result.texts;
    }
    QueryPerformanceCounter(&end);
    result.seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    result.outputBytes = buffer.length;
    result.heap = testHeap;
    ResetBuffer(&buffer);
    return result;
}

// Returns the number of texts that fitted under the ceiling.
int Report(const char* name, void (*append)(ReportBuffer*, const WCHAR*), const int* utf8Sizes,
           int rounds, bool pregrown = false) {
    RoundResult best = {};
    for (int round = 0; round < rounds; ++round) {
        RoundResult r = RunRound(append, utf8Sizes, pregrown);
        printf("  %s round %d: %.1f ms, %d texts, %.0f input bytes, %.0f output bytes\n", name,
               round + 1, r.seconds * 1000, r.texts, r.inputBytes, r.outputBytes);
        if (round == 0 || r.seconds < best.seconds) {
            best = r;
        }
    }
    printf("%s (best of %d):\n", name, rounds);
    printf("  input  %.1f MB/s (UTF-8 bytes of the texts, 1 MB = 10^6 bytes)\n",
           best.inputBytes / best.seconds / 1e6);
    printf("  output %.1f MB/s (JSON bytes appended)\n", best.outputBytes / best.seconds / 1e6);
    printf("  heap: %d reallocations, %d allocations (first block + one scratch per non-empty "
           "text), %d releases\n",
           best.heap.reAllocCalls, best.heap.allocCalls, best.heap.freeCalls);
    printf("  %.0f ns per text\n", best.seconds * 1e9 / best.texts);
    return best.texts;
}

// The platform work AppendJsonString does per text, without any escaping or appending: the
// length, the two conversions and the scratch block. Its rate bounds the writer's.
void ReportPlatformShare(int texts, const int* utf8Sizes, int rounds) {
    double best = 0;
    double inputBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        double bytes = 0;
        for (int i = 0; i < texts; ++i) {
            const WCHAR* text = gTexts[i % gTextCount];
            int units = lstrlenW(text);
            if (units > 0) {
                int size = WideCharToMultiByte(CP_UTF8, 0, text, units, NULL, 0, NULL, NULL);
                char* scratch = (char*)kProcessHeap.alloc(size + 1);
                WideCharToMultiByte(CP_UTF8, 0, text, units, scratch, size, NULL, NULL);
                kProcessHeap.free(scratch);
            }
            bytes += utf8Sizes[i % gTextCount];
        }
        QueryPerformanceCounter(&end);
        double seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
        if (round == 0 || seconds < best) {
            best = seconds;
        }
        inputBytes = bytes;
    }
    printf("platform calls alone for the same %d texts (best of %d):\n", texts, rounds);
    printf("  input  %.1f MB/s, %.0f ns per text (lstrlenW, two WideCharToMultiByte, "
           "HeapAlloc and HeapFree)\n",
           inputBytes / best / 1e6, best * 1e9 / texts);
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 10;
    if (rounds < 1) {
        rounds = 1;
    }
    struct TextSet {
        const char* name;
        const WCHAR* const* texts;
        int count;
    };
    const TextSet sets[] = {
        {"short texts (names and values as most rows hold them)", kTexts, kMaxTextCount},
        {"longer texts (descriptions, paths, product names)", kLongTexts,
         (int)(sizeof(kLongTexts) / sizeof(kLongTexts[0]))},
    };
    for (const TextSet& set : sets) {
        gTexts = set.texts;
        gTextCount = set.count;
        int utf8Sizes[kMaxTextCount];
        double averageBytes = 0;
        for (int i = 0; i < gTextCount; ++i) {
            utf8Sizes[i] = WideCharToMultiByte(CP_UTF8, 0, gTexts[i], -1, NULL, 0, NULL, NULL) - 1;
            averageBytes += (double)utf8Sizes[i] / gTextCount;
        }
        const ReportHeap* saved = reportHeap;
        reportHeap = &kTestHeap;
        printf("\n== %d distinct %s, %.1f UTF-8 bytes on average, repeated up to the %u-byte "
               "ceiling\n",
               gTextCount, set.name, averageBytes, (unsigned)kReportBufferCeiling);
        int texts = Report("AppendJsonString", AppendJsonString, utf8Sizes, rounds);
        Report("one append per piece", PiecewiseAppendJsonString, utf8Sizes, rounds);
        Report("AppendJsonString into a block already grown to the ceiling", AppendJsonString,
               utf8Sizes, rounds, true);
        reportHeap = saved;
        ReportPlatformShare(texts, utf8Sizes, rounds);
    }
    return 0;
}
