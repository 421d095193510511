// A small ordered document: every command builds one and renders it either
// as plain text or as JSON, so both forms always carry the same fields in
// the same order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvtcard {

class Node {
  public:
    enum class Kind { boolean, number, hex, text, object, array };

    static Node text(std::string_view value);
    static Node number(long long value);
    // A number that plain text shows as 0x with `digits` hex digits; JSON
    // keeps it a number.
    static Node hex(std::uint64_t value, int digits);
    static Node boolean(bool value);
    static Node object();
    static Node array();

    // Appends a member to an object / an item to an array; returns *this.
    Node &set(std::string key, Node value);
    Node &push(Node value);

    Kind kind() const { return kind_; }
    bool is_scalar() const { return kind_ != Kind::object && kind_ != Kind::array; }
    // Members of an object (keys) or items of an array (empty keys).
    const std::vector<std::pair<std::string, Node>> &children() const { return children_; }
    // The first member with this key, or nullptr.
    const Node *find(std::string_view key) const;

    // The scalar as plain text shows it: texts unquoted, hex as 0x...
    std::string plain() const;
    // The scalar as JSON writes it.
    std::string json() const;
    const std::string &raw_text() const { return text_; }
    long long raw_number() const { return number_; }

  private:
    Kind kind_ = Kind::object;
    std::string text_;
    long long number_ = 0;
    int digits_ = 0;
    std::vector<std::pair<std::string, Node>> children_;
};

// JSON string literal of arbitrary bytes: quotes, backslashes and every
// byte outside printable ASCII are escaped, so any card text gives valid
// JSON.
std::string json_quote(std::string_view bytes);

// Pretty-printed JSON, two blanks per level, members in insertion order.
std::string to_json(const Node &root);
// Indented "key: value" lines for 80 columns; an array item whose members
// are all scalars is packed into as few lines as fit. A note for a
// top-level key is shown in brackets beside it.
std::string to_text(const Node &root, const std::map<std::string, std::string> &notes = {});

// Leaf paths and their values: "users[3].name" -> "root". An array item
// that is an object is named by its first member when that is a number
// (slot, rule or section number), else by its index.
std::vector<std::pair<std::string, Node>> flatten(const Node &root);

} // namespace kvtcard
