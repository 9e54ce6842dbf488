#include "support/compact_json.h"

#include <string.h>

namespace {

struct Reader {
    const char* data;
    size_t length;
    size_t pos;
    std::string error;

    bool Fail(const char* reason) {
        if (error.empty()) {
            error = "offset " + std::to_string(pos) + ": " + reason;
        }
        return false;
    }
    bool AtEnd() const {
        return pos >= length;
    }
    char Peek() const {
        return AtEnd() ? '\0' : data[pos];
    }
    bool Expect(const char* word) {
        size_t n = strlen(word);
        if (length - pos < n || memcmp(data + pos, word, n) != 0) {
            return Fail("unexpected token");
        }
        pos += n;
        return true;
    }
};

void AppendUtf8(std::string* out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out->push_back((char)codePoint);
    } else if (codePoint < 0x800) {
        out->push_back((char)(0xC0 | (codePoint >> 6)));
        out->push_back((char)(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out->push_back((char)(0xE0 | (codePoint >> 12)));
        out->push_back((char)(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (codePoint & 0x3F)));
    } else {
        out->push_back((char)(0xF0 | (codePoint >> 18)));
        out->push_back((char)(0x80 | ((codePoint >> 12) & 0x3F)));
        out->push_back((char)(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back((char)(0x80 | (codePoint & 0x3F)));
    }
}

bool ReadHex4(Reader* r, unsigned* value) {
    if (r->length - r->pos < 4) {
        return r->Fail("short \\u escape");
    }
    *value = 0;
    for (int i = 0; i < 4; ++i) {
        char c = r->data[r->pos++];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return r->Fail("bad hex digit");
        }
        *value = *value * 16 + digit;
    }
    return true;
}

bool ReadString(Reader* r, std::string* out) {
    if (!r->Expect("\"")) {
        return false;
    }
    out->clear();
    while (!r->AtEnd()) {
        unsigned char c = (unsigned char)r->data[r->pos++];
        if (c == '"') {
            return true;
        }
        if (c < 0x20) {
            return r->Fail("raw control character in string");
        }
        if (c != '\\') {
            out->push_back((char)c);
            continue;
        }
        if (r->AtEnd()) {
            break;
        }
        char e = r->data[r->pos++];
        static const char kEscapes[] = "\"\\/bfnrt";
        static const char kDecoded[] = "\"\\/\b\f\n\r\t";
        const char* simple = e == '\0' ? nullptr : strchr(kEscapes, e);
        if (simple != nullptr) {
            out->push_back(kDecoded[simple - kEscapes]);
            continue;
        }
        if (e != 'u') {
            return r->Fail("bad escape");
        }
        unsigned unit;
        if (!ReadHex4(r, &unit)) {
            return false;
        }
        if (unit >= 0xD800 && unit < 0xDC00) {
            unsigned low;
            if (!r->Expect("\\u") || !ReadHex4(r, &low) || low < 0xDC00 || low >= 0xE000) {
                return r->Fail("lone high surrogate");
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        } else if (unit >= 0xDC00 && unit < 0xE000) {
            return r->Fail("lone low surrogate");
        }
        AppendUtf8(out, unit);
    }
    return r->Fail("unterminated string");
}

bool ReadValue(Reader* r, JsonValue* out, int depth);

bool ReadContainer(Reader* r, JsonValue* out, int depth, char close) {
    ++r->pos;
    if (r->Peek() == close) {
        ++r->pos;
        return true;
    }
    for (;;) {
        if (close == '}') {
            std::pair<std::string, JsonValue> member;
            if (!ReadString(r, &member.first) || !r->Expect(":") ||
                !ReadValue(r, &member.second, depth + 1)) {
                return false;
            }
            out->members.push_back(std::move(member));
        } else {
            JsonValue item;
            if (!ReadValue(r, &item, depth + 1)) {
                return false;
            }
            out->items.push_back(std::move(item));
        }
        char c = r->Peek();
        ++r->pos;
        if (c == close) {
            return true;
        }
        if (c != ',') {
            --r->pos;
            return r->Fail("expected ',' or end of container");
        }
    }
}

bool ReadNumber(Reader* r, JsonValue* out) {
    size_t start = r->pos;
    if (r->Peek() == '-') {
        ++r->pos;
    }
    while (strchr("0123456789.eE+-", r->Peek()) != nullptr && r->Peek() != '\0') {
        ++r->pos;
    }
    if (r->pos == start) {
        return r->Fail("unexpected character");
    }
    out->kind = JsonValue::Number;
    out->text.assign(r->data + start, r->pos - start);
    return true;
}

bool ReadValue(Reader* r, JsonValue* out, int depth) {
    if (depth > 32) {
        return r->Fail("nesting too deep");
    }
    switch (r->Peek()) {
    case '{':
        out->kind = JsonValue::Object;
        return ReadContainer(r, out, depth, '}');
    case '[':
        out->kind = JsonValue::Array;
        return ReadContainer(r, out, depth, ']');
    case '"':
        out->kind = JsonValue::String;
        return ReadString(r, &out->text);
    case 't':
        out->kind = JsonValue::Boolean;
        out->boolean = true;
        return r->Expect("true");
    case 'f':
        out->kind = JsonValue::Boolean;
        return r->Expect("false");
    case 'n':
        out->kind = JsonValue::Null;
        return r->Expect("null");
    default:
        return ReadNumber(r, out);
    }
}

} // namespace

const JsonValue* JsonValue::Find(const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key) {
            return &member.second;
        }
    }
    return nullptr;
}

std::vector<std::string> JsonValue::Keys() const {
    std::vector<std::string> keys;
    for (const auto& member : members) {
        keys.push_back(member.first);
    }
    return keys;
}

bool ParseCompactJson(const char* data, size_t length, JsonValue* out, std::string* error) {
    Reader reader = {data, length, 0, std::string()};
    *out = JsonValue();
    bool ok = ReadValue(&reader, out, 0);
    if (ok && !reader.AtEnd()) {
        ok = reader.Fail("bytes after the document");
    }
    if (!ok && error != nullptr) {
        *error = reader.error;
    }
    return ok;
}
