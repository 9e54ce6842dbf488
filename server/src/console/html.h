#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zeq::console {

struct Attribute {
    const char* name; // a literal of this program
    std::string value;
};

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
    std::string take() && {
        return std::move(markup_);
    }
    Html& operator+=(const Html& more) {
        markup_ += more.markup_;
        return *this;
    }
    friend Html operator+(Html a, const Html& b) {
        a += b;
        return a;
    }

    // The same markup as += element(...), written in place: a long table built
    // from nested elements would copy every row into each enclosing element
    // and allocate a string per cell. The caller closes what it opens.
    Html& open(const char* tag, std::initializer_list<Attribute> attributes = {});
    Html& close(const char* tag);
    Html& appendText(std::string_view plain);

  private:
    friend Html text(std::string_view plain);
    friend struct Markup;
    std::string markup_;
};

// Plain text as HTML: &, <, >, " and ' escaped.
Html text(std::string_view plain);

// <tag attributes>content</tag>, and a void element (<input>, <meta>) without content.
Html element(const char* tag, std::initializer_list<Attribute> attributes, const Html& content);
Html element(const char* tag, const Html& content);
Html voidElement(const char* tag, std::initializer_list<Attribute> attributes);

} // namespace zeq::console
