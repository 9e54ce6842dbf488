#pragma once

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

// A strict reader for the report's JSON: one compact document, no white space
// anywhere between tokens, nothing after the value. Strings come back as UTF-8.
struct JsonValue {
    enum Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Null;
    bool boolean = false;
    std::string text; // a String's decoded text or a Number's digits
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The member named key, or nullptr.
    const JsonValue* Find(const std::string& key) const;
    std::vector<std::string> Keys() const;
};

// False on any syntax error, with the byte offset and a reason in *error.
bool ParseCompactJson(const char* data, size_t length, JsonValue* out, std::string* error);
