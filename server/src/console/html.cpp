#include "console/html.h"

namespace zeq::console {

// Builds markup from literals and escaped values; only this file does.
struct Markup {
    static Html of(std::string markup) {
        Html html;
        html.markup_ = std::move(markup);
        return html;
    }
};

Html text(std::string_view plain) {
    Html html;
    html.markup_.reserve(plain.size());
    for (char c : plain) {
        switch (c) {
        case '&':
            html.markup_ += "&amp;";
            break;
        case '<':
            html.markup_ += "&lt;";
            break;
        case '>':
            html.markup_ += "&gt;";
            break;
        case '"':
            html.markup_ += "&quot;";
            break;
        case '\'':
            html.markup_ += "&#39;";
            break;
        default:
            html.markup_ += c;
        }
    }
    return html;
}

namespace {

std::string openTag(const char* tag, std::initializer_list<Attribute> attributes) {
    std::string markup = std::string("<") + tag;
    for (const Attribute& attribute : attributes) {
        markup += std::string(" ") + attribute.name + "=\"" + text(attribute.value).str() + "\"";
    }
    return markup + ">";
}

} // namespace

Html element(const char* tag, std::initializer_list<Attribute> attributes, const Html& content) {
    return Markup::of(openTag(tag, attributes) + content.str() + "</" + tag + ">");
}

Html element(const char* tag, const Html& content) {
    return element(tag, {}, content);
}

Html voidElement(const char* tag, std::initializer_list<Attribute> attributes) {
    return Markup::of(openTag(tag, attributes));
}

} // namespace zeq::console
