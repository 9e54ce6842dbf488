// Makes the Wine prefix it runs in trust a test certificate authority: adds the
// DER certificate named on the command line to the Root system store. Only the
// prefix changes; the machine's own certificate store is never touched.
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: zeq_trust_root CERTIFICATE.der\n");
        return 2;
    }
    int status = 1;
    BYTE* der = NULL;
    DWORD size = 0;
    DWORD read = 0;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "zeq_trust_root: cannot open %s (%lu)\n", argv[1], GetLastError());
        goto cleanup;
    }
    size = GetFileSize(file, NULL);
    der = (BYTE*)HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
    if (der == NULL || !ReadFile(file, der, size, &read, NULL) || read != size) {
        fprintf(stderr, "zeq_trust_root: cannot read %s\n", argv[1]);
        goto cleanup;
    }
    if (!CertAddEncodedCertificateToSystemStoreW(L"Root", der, size)) {
        fprintf(stderr, "zeq_trust_root: the Root store refused the certificate (0x%08lx)\n",
                GetLastError());
        goto cleanup;
    }
    status = 0;

cleanup:
    if (der != NULL) {
        HeapFree(GetProcessHeap(), 0, der);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return status;
}
