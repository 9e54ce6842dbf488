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

namespace {

void appendEscaped(std::string& markup, std::string_view plain) {
    std::size_t copied = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        std::string_view entity;
        switch (plain[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '\'':
            entity = "&#39;";
            break;
        default:
            continue;
        }
        markup.append(plain.substr(copied, i - copied)).append(entity);
        copied = i + 1;
    }
    markup.append(plain.substr(copied));
}

void appendOpenTag(std::string& markup, const char* tag,
                   std::initializer_list<Attribute> attributes) {
    markup.push_back('<');
    markup.append(tag);
    for (const Attribute& attribute : attributes) {
        markup.push_back(' ');
        markup.append(attribute.name).append("=\"");
        appendEscaped(markup, attribute.value);
        markup.push_back('"');
    }
    markup.push_back('>');
}

} // namespace

Html text(std::string_view plain) {
    Html html;
    html.markup_.reserve(plain.size());
    appendEscaped(html.markup_, plain);
    return html;
}

Html& Html::open(const char* tag, std::initializer_list<Attribute> attributes) {
    appendOpenTag(markup_, tag, attributes);
    return *this;
}

Html& Html::close(const char* tag) {
    markup_.append("</", 2).append(tag);
    markup_.push_back('>');
    return *this;
}

Html& Html::appendText(std::string_view plain) {
    appendEscaped(markup_, plain);
    return *this;
}

Html element(const char* tag, std::initializer_list<Attribute> attributes, const Html& content) {
    std::string markup;
    markup.reserve(content.str().size() + 2 * std::char_traits<char>::length(tag) + 5);
    appendOpenTag(markup, tag, attributes);
    markup.append(content.str()).append("</").append(tag).append(">");
    return Markup::of(std::move(markup));
}

Html element(const char* tag, const Html& content) {
    return element(tag, {}, content);
}

Html voidElement(const char* tag, std::initializer_list<Attribute> attributes) {
    std::string markup;
    appendOpenTag(markup, tag, attributes);
    return Markup::of(std::move(markup));
}

} // namespace zeq::console
