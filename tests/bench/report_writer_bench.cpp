// Throughput of AppendJsonString and number of heap reallocations while a report grows from
// empty to the 8 MiB ceiling, built from many short texts like those the collectors append.
// Usage: report_writer_bench [rounds]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "report/report_buffer.h"

namespace {

struct HeapCounts {
    int allocs;
    int reAllocs;
    int frees;
};
HeapCounts counts;

void* CountingAlloc(SIZE_T size) {
    ++counts.allocs;
    return kProcessHeap.alloc(size);
}

void* CountingReAlloc(void* block, SIZE_T size) {
    ++counts.reAllocs;
    return kProcessHeap.reAlloc(block, size);
}

void CountingFree(void* block) {
    ++counts.frees;
    kProcessHeap.free(block);
}

const ReportHeap kCountingHeap = {CountingAlloc, CountingReAlloc, CountingFree};

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
const int kTextCount = sizeof(kTexts) / sizeof(kTexts[0]);

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
    HeapCounts heap;
};

RoundResult RunRound(void (*append)(ReportBuffer*, const WCHAR*), const int* utf8Sizes) {
    ReportBuffer buffer = {};
    RoundResult result = {};
    counts = HeapCounts();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0;; ++i) {
        append(&buffer, kTexts[i % kTextCount]);
        if (buffer.failed) {
            break;
        }
        result.inputBytes += utf8Sizes[i % kTextCount];
        ++result.texts;
    }
    QueryPerformanceCounter(&end);
    result.seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    result.outputBytes = buffer.length;
    result.heap = counts;
    ResetBuffer(&buffer);
    return result;
}

// Returns the number of texts that fitted under the ceiling.
int Report(const char* name, void (*append)(ReportBuffer*, const WCHAR*), const int* utf8Sizes,
           int rounds) {
    RoundResult best = {};
    for (int round = 0; round < rounds; ++round) {
        RoundResult r = RunRound(append, utf8Sizes);
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
           best.heap.reAllocs, best.heap.allocs, best.heap.frees);
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
            const WCHAR* text = kTexts[i % kTextCount];
            int units = lstrlenW(text);
            if (units > 0) {
                int size = WideCharToMultiByte(CP_UTF8, 0, text, units, NULL, 0, NULL, NULL);
                char* scratch = (char*)kProcessHeap.alloc(size + 1);
                WideCharToMultiByte(CP_UTF8, 0, text, units, scratch, size, NULL, NULL);
                kProcessHeap.free(scratch);
            }
            bytes += utf8Sizes[i % kTextCount];
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
    int utf8Sizes[kTextCount];
    for (int i = 0; i < kTextCount; ++i) {
        utf8Sizes[i] = WideCharToMultiByte(CP_UTF8, 0, kTexts[i], -1, NULL, 0, NULL, NULL) - 1;
    }
    const ReportHeap* saved = reportHeap;
    reportHeap = &kCountingHeap;
    printf("Report of %d distinct short texts repeated up to the %u-byte ceiling\n", kTextCount,
           (unsigned)kReportBufferCeiling);
    int texts = Report("AppendJsonString", AppendJsonString, utf8Sizes, rounds);
    Report("one append per piece", PiecewiseAppendJsonString, utf8Sizes, rounds);
    reportHeap = saved;
    ReportPlatformShare(texts, utf8Sizes, rounds);
    return 0;
}
