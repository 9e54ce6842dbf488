#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace zeq::findings {

// Builds the tree the findings read from a parser's events, keeping only the
// levels a rule can reach: report, sections, section, rows, row and the row's
// member values. Anything nested deeper is skipped as it streams past, so deep
// nesting costs neither stack nor memory. (nlohmann's own callback parser does
// the same job but scans the whole parent for a discarded child each time an
// object or array ends, which is quadratic in a section's rows.)
class ReportTreeBuilder {
  public:
    using json = nlohmann::json;

    explicit ReportTreeBuilder(json& root) : root_(root) {}

    bool null() {
        return add(json(nullptr));
    }
    bool boolean(bool v) {
        return add(json(v));
    }
    bool number_integer(json::number_integer_t v) {
        return add(json(v));
    }
    bool number_unsigned(json::number_unsigned_t v) {
        return add(json(v));
    }
    bool number_float(json::number_float_t v, const std::string&) {
        return add(json(v));
    }
    bool string(std::string& v) {
        // The lexer clears its buffer before each token, so the text can be taken.
        return add(json(std::move(v)));
    }
    bool binary(json::binary_t& v) {
        return add(json(v));
    }
    bool start_object(std::size_t) {
        return open(json::object());
    }
    bool start_array(std::size_t) {
        return open(json::array());
    }
    bool end_object() {
        return close();
    }
    bool end_array() {
        return close();
    }
    bool key(std::string& k) {
        if (skipped_ == 0) {
            key_ = k;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        failed_ = true;
        return false;
    }

    // False when the bytes were not JSON; the root is then left as it was.
    bool complete() const {
        return !failed_ && started_ && open_.empty();
    }

  private:
    static constexpr std::size_t kDeepestKeptLevel = 5;

    json* place(json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            started_ = true;
            return &root_;
        }
        json& parent = *open_.back();
        if (parent.is_object()) {
            json& slot = parent[key_];
            slot = std::move(value);
            return &slot;
        }
        parent.push_back(std::move(value));
        return &parent.back();
    }
    bool add(json value) {
        if (skipped_ == 0) {
            place(std::move(value));
        }
        return true;
    }
    bool open(json container) {
        if (skipped_ > 0 || open_.size() >= kDeepestKeptLevel) {
            ++skipped_;
            return true;
        }
        open_.push_back(place(std::move(container)));
        return true;
    }
    bool close() {
        if (skipped_ > 0) {
            --skipped_;
        } else if (!open_.empty()) {
            open_.pop_back();
        }
        return true;
    }

    json& root_;
    std::vector<json*> open_;
    std::size_t skipped_ = 0;
    std::string key_;
    bool started_ = false;
    bool failed_ = false;
};

} // namespace zeq::findings
