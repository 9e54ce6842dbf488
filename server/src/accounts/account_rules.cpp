#include "accounts/account_rules.h"

#include "base/utf8.h"

namespace zeq::accounts {

namespace {

bool isLowerLetter(char c) {
    return c >= 'a' && c <= 'z';
}

bool isNameByte(char c) {
    return isLowerLetter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Code points of valid UTF-8: every byte that does not continue a sequence.
std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

// C0 controls, DEL and the C1 controls (U+0080..U+009F, 0xC2 0x80..0x9F).
bool hasControlCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            return true;
        }
    }
    return false;
}

} // namespace

bool isAccountName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength || !isLowerLetter(name[0])) {
        return false;
    }
    for (char c : name) {
        if (!isNameByte(c)) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> passwordProblem(std::string_view name, std::string_view password) {
    if (!isValidUtf8(password) || hasControlCharacter(password)) {
        return "la contraseña tiene caracteres de control o no es UTF-8 válido";
    }
    std::size_t characters = characterCount(password);
    if (characters < kMinPasswordCharacters) {
        return "la contraseña debe tener al menos 12 caracteres";
    }
    if (characters > kMaxPasswordCharacters) {
        return "la contraseña no puede tener más de 128 caracteres";
    }
    if (sameIgnoringAsciiCase(password, name)) {
        return "la contraseña no puede ser el nombre de la cuenta";
    }
    return std::nullopt;
}

} // namespace zeq::accounts
