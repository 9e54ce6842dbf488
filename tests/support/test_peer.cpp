#include "support/test_peer.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

std::string InPeerDirectory(const std::string& name) {
    return PeerDirectory() + "\\" + name;
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == NULL) {
        return false;
    }
    contents->clear();
    char chunk[65536];
    size_t read;
    while ((read = fread(chunk, 1, sizeof(chunk), file)) > 0) {
        contents->append(chunk, read);
    }
    fclose(file);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& contents) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == NULL) {
        return false;
    }
    bool written = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    return fclose(file) == 0 && written;
}

void EmptyRecord() {
    std::string record = InPeerDirectory("record");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((record + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DeleteFileA((record + "\\" + found.cFileName).c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool SameLetters(const std::string& a, const char* b) {
    return a.size() == strlen(b) && _strnicmp(a.c_str(), b, a.size()) == 0;
}

// Walks the header lines (after the request line, up to the empty line).
bool FindHeader(const std::string& head, const char* name, std::string* value) {
    size_t start = head.find("\r\n") + 2;
    for (size_t end; (end = head.find("\r\n", start)) != std::string::npos && end > start;
         start = end + 2) {
        std::string line = head.substr(start, end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameLetters(line.substr(0, colon), name)) {
            size_t text = line.find_first_not_of(' ', colon + 1);
            *value = text == std::string::npos ? std::string() : line.substr(text);
            return true;
        }
    }
    return false;
}

} // namespace

std::string PeerDirectory() {
    const char* directory = getenv("ZEQ_PEER_DIR");
    return directory == NULL ? std::string() : std::string(directory);
}

bool SetPeerScenario(const std::string& script) {
    if (PeerDirectory().empty()) {
        return false;
    }
    EmptyRecord();
    std::string part = InPeerDirectory("scenario.txt.part");
    std::string scenario = InPeerDirectory("scenario.txt");
    return WriteWholeFile(part, script) &&
           MoveFileExA(part.c_str(), scenario.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::vector<PeerRequest> PeerRequests() {
    std::vector<PeerRequest> requests;
    for (int number = 1;; ++number) {
        char base[16];
        snprintf(base, sizeof(base), "record\\%03d", number);
        PeerRequest request;
        if (!ReadWholeFile(InPeerDirectory(std::string(base) + ".head"), &request.head) ||
            !ReadWholeFile(InPeerDirectory(std::string(base) + ".body"), &request.body)) {
            break;
        }
        std::string line = request.head.substr(0, request.head.find("\r\n"));
        size_t space = line.find(' ');
        request.method = line.substr(0, space);
        request.path = line.substr(space + 1, line.rfind(' ') - space - 1);
        requests.push_back(request);
    }
    return requests;
}

int PeerConnections() {
    std::string count;
    if (!ReadWholeFile(InPeerDirectory("record\\connections"), &count)) {
        return 0;
    }
    return atoi(count.c_str());
}

bool PeerRequest::HasHeader(const char* name) const {
    std::string value;
    return FindHeader(head, name, &value);
}

std::string PeerRequest::Header(const char* name) const {
    std::string value;
    FindHeader(head, name, &value);
    return value;
}

std::string PeerEscape(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : bytes) {
        if (c > 0x20 && c < 0x7F && c != '%') {
            escaped += (char)c;
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return escaped;
}
