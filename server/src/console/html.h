#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zeq::console {

// Markup for the console's pages. It is made only from the literals of this
// program and from text passed through `text` (or an attribute value), so a
// value from a report or a request can never become markup: escaping happens
// in one place, where text turns into HTML.
class Html {
  public:
    Html() = default;
    // Markup written in this program, never built from a value.
    static Html literal(const char* markup) {
        Html html;
        html.markup_ = markup;
        return html;
    }
    const std::string& str() const {
        return markup_;
    }
    Html& operator+=(const Html& more) {
        markup_ += more.markup_;
        return *this;
    }
    friend Html operator+(Html a, const Html& b) {
        a += b;
        return a;
    }

  private:
    friend Html text(std::string_view plain);
    friend struct Markup;
    std::string markup_;
};

// Plain text as HTML: &, <, >, " and ' escaped.
Html text(std::string_view plain);

struct Attribute {
    const char* name; // a literal of this program
    std::string value;
};

// <tag attributes>content</tag>, and a void element (<input>, <meta>) without content.
Html element(const char* tag, std::initializer_list<Attribute> attributes, const Html& content);
Html element(const char* tag, const Html& content);
Html voidElement(const char* tag, std::initializer_list<Attribute> attributes);

} // namespace zeq::console
