#include "tools/kvtcard/node.hpp"

#include <cstdio>

namespace kvtcard {

namespace {

constexpr std::size_t kTextWidth = 80;

bool printable(unsigned char c)
{
    return c >= 0x20 && c < 0x7F;
}

// How a byte outside printable ASCII is written: "\x1b" in plain text,
// "\u001b" in JSON.
enum class Escape { hex, unicode };

// `bytes` in double quotes, with quote and backslash escaped and every byte
// outside printable ASCII escaped as `escape` says.
std::string quoted(std::string_view bytes, Escape escape)
{
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (printable(c)) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            if (escape == Escape::hex)
                std::snprintf(esc, sizeof esc, "\\x%02x", c);
            else
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        }
    }
    return out + "\"";
}

// Plain text shows a card text bare unless it would be misread: empty,
// leading or trailing blanks, or bytes that are not printable.
std::string plain_text(std::string_view bytes)
{
    bool bare = !bytes.empty() && bytes.front() != ' ' && bytes.back() != ' ';
    for (unsigned char c : bytes)
        bare = bare && printable(c) && c != '"';
    if (bare)
        return std::string(bytes);
    return quoted(bytes, Escape::hex);
}

void indent(std::string &out, int level)
{
    out.append(static_cast<std::size_t>(level) * 2, ' ');
}

void write_json(std::string &out, const Node &node, int level)
{
    if (node.is_scalar()) {
        out += node.json();
        return;
    }
    const bool object = node.kind() == Node::Kind::object;
    const char *open = object ? "{" : "[";
    const char *close = object ? "}" : "]";
    if (node.children().empty()) {
        out += open;
        out += close;
        return;
    }
    out += open;
    out += '\n';
    bool first = true;
    for (const auto &[key, child] : node.children()) {
        if (!first)
            out += ",\n";
        first = false;
        indent(out, level + 1);
        if (object)
            out += json_quote(key) + ": ";
        write_json(out, child, level + 1);
    }
    out += '\n';
    indent(out, level);
    out += close;
}

bool all_scalar(const Node &node)
{
    for (const auto &member : node.children())
        if (!member.second.is_scalar())
            return false;
    return true;
}

// "key: value" pairs joined by ", ", wrapped before a pair that would pass
// the text width; continuation lines start at `first_column`.
std::string packed_lines(const Node &object, std::size_t first_column)
{
    std::string out;
    std::size_t column = first_column;
    bool first = true;
    for (const auto &[key, child] : object.children()) {
        const std::string pair = key + ": " + child.plain();
        // One column stays free for the comma that ends a wrapped line.
        if (!first && column + 2 + pair.size() + 1 > kTextWidth) {
            out += ",\n" + std::string(first_column, ' ');
            column = first_column;
        } else if (!first) {
            out += ", ";
            column += 2;
        }
        out += pair;
        column += pair.size();
        first = false;
    }
    return out + "\n";
}

using Notes = std::map<std::string, std::string>;

void write_text(std::string &out, const Node &node, int level, const Notes &notes = {});

void write_text_member(std::string &out, const std::string &key, const Node &child, int level,
                       const Notes &notes)
{
    indent(out, level);
    out += key + ":";
    const auto note = notes.find(key);
    const std::string beside = note == notes.end() ? "" : " [" + note->second + "]";
    if (child.is_scalar()) {
        out += " " + child.plain() + beside + "\n";
        return;
    }
    if (child.children().empty()) {
        out += " (none)" + beside + "\n";
        return;
    }
    out += beside + "\n";
    write_text(out, child, level + 1);
}

void write_text_item(std::string &out, const Node &item, int level)
{
    indent(out, level);
    if (item.is_scalar()) {
        out += "- " + item.plain() + "\n";
        return;
    }
    if (item.kind() == Node::Kind::object && all_scalar(item)) {
        out += "- " + packed_lines(item, static_cast<std::size_t>(level) * 2 + 2);
        return;
    }
    out += "-\n";
    write_text(out, item, level + 1);
}

void write_text(std::string &out, const Node &node, int level, const Notes &notes)
{
    for (const auto &[key, child] : node.children()) {
        if (node.kind() == Node::Kind::object)
            write_text_member(out, key, child, level, notes);
        else
            write_text_item(out, child, level);
    }
}

void flatten_into(std::vector<std::pair<std::string, Node>> &out, const std::string &path,
                  const Node &node)
{
    if (node.is_scalar()) {
        out.emplace_back(path, node);
        return;
    }
    std::size_t index = 0;
    for (const auto &[key, child] : node.children()) {
        std::string name;
        if (node.kind() == Node::Kind::object) {
            name = path;
            if (!name.empty())
                name += '.';
            name += key;
        } else {
            const bool numbered = !child.children().empty() &&
                                  child.children().front().second.kind() == Node::Kind::number;
            const long long id = numbered ? child.children().front().second.raw_number()
                                          : static_cast<long long>(index);
            name = path;
            name += '[';
            name += std::to_string(id);
            name += ']';
        }
        flatten_into(out, name, child);
        ++index;
    }
}

} // namespace

Node Node::text(std::string_view value)
{
    Node n;
    n.kind_ = Kind::text;
    n.text_ = std::string(value);
    return n;
}

Node Node::number(long long value)
{
    Node n;
    n.kind_ = Kind::number;
    n.number_ = value;
    return n;
}

Node Node::hex(std::uint64_t value, int digits)
{
    Node n;
    n.kind_ = Kind::hex;
    n.number_ = static_cast<long long>(value);
    n.digits_ = digits;
    return n;
}

Node Node::boolean(bool value)
{
    Node n;
    n.kind_ = Kind::boolean;
    n.number_ = value ? 1 : 0;
    return n;
}

Node Node::object()
{
    return Node{};
}

Node Node::array()
{
    Node n;
    n.kind_ = Kind::array;
    return n;
}

Node &Node::set(std::string key, Node value)
{
    children_.emplace_back(std::move(key), std::move(value));
    return *this;
}

Node &Node::push(Node value)
{
    children_.emplace_back(std::string(), std::move(value));
    return *this;
}

const Node *Node::find(std::string_view key) const
{
    for (const auto &member : children_)
        if (member.first == key)
            return &member.second;
    return nullptr;
}

std::string Node::plain() const
{
    switch (kind_) {
    case Kind::boolean:
        return number_ != 0 ? "yes" : "no";
    case Kind::number:
        return std::to_string(number_);
    case Kind::hex: {
        char buf[24];
        std::snprintf(buf, sizeof buf, "0x%0*llx", digits_,
                      static_cast<unsigned long long>(number_));
        return buf;
    }
    case Kind::text:
        return plain_text(text_);
    case Kind::object:
    case Kind::array:
        break;
    }
    return {};
}

std::string Node::json() const
{
    switch (kind_) {
    case Kind::boolean:
        return number_ != 0 ? "true" : "false";
    case Kind::number:
    case Kind::hex:
        return std::to_string(number_);
    case Kind::text:
        return json_quote(text_);
    case Kind::object:
    case Kind::array:
        break;
    }
    return "null";
}

std::string json_quote(std::string_view bytes)
{
    // Card texts are bytes, not UTF-8: each byte outside printable ASCII
    // becomes the code point of the same number.
    return quoted(bytes, Escape::unicode);
}

std::string to_json(const Node &root)
{
    std::string out;
    write_json(out, root, 0);
    return out + "\n";
}

std::string to_text(const Node &root, const Notes &notes)
{
    std::string out;
    if (root.is_scalar())
        return root.plain() + "\n";
    write_text(out, root, 0, notes);
    return out;
}

std::vector<std::pair<std::string, Node>> flatten(const Node &root)
{
    std::vector<std::pair<std::string, Node>> out;
    flatten_into(out, std::string(), root);
    return out;
}

} // namespace kvtcard
