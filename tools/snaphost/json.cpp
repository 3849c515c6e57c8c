#include "json.h"

#include <cmath>

#include "text.h"

namespace snaphost {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t utf8Length(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return len;
}

// Text from the outside (a command's name, the volume manager's words) may be in any encoding;
// what is not UTF-8 becomes U+FFFD, so the document always parses.
void quote(const std::string& s, std::string& out) {
    out += '"';
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            size_t len = utf8Length(s, i);
            if (len == 0) {
                out += "\\ufffd";
            } else {
                out.append(s, i, len);
                i += len - 1;
            }
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20)
                    out += strf("\\u%04x", c);
                else
                    out += static_cast<char>(c);
        }
    }
    out += '"';
}

struct Writer {
    std::string& out;
    void operator()(std::monostate) { out += "null"; }
    void operator()(bool b) { out += b ? "true" : "false"; }
    void operator()(double n) {
        if (!std::isfinite(n))
            out += "null";
        else if (n == std::floor(n) && std::fabs(n) < 1e15)
            out += strf("%.0f", n);
        else
            out += strf("%.6g", n);
    }
    void operator()(const std::string& s) { quote(s, out); }
    void operator()(const Json::Array& a) {
        out += '[';
        for (size_t i = 0; i < a.size(); ++i) {
            if (i > 0) out += ',';
            a[i].appendTo(out);
        }
        out += ']';
    }
    void operator()(const Json::Object& o) {
        out += '{';
        for (size_t i = 0; i < o.size(); ++i) {
            if (i > 0) out += ',';
            quote(o[i].first, out);
            out += ':';
            o[i].second.appendTo(out);
        }
        out += '}';
    }
};

}  // namespace

Json& Json::set(const std::string& key, Json value) {
    if (!std::holds_alternative<Object>(value_)) value_ = Object{};
    for (auto& member : std::get<Object>(value_))
        if (member.first == key) return member.second = std::move(value);
    return std::get<Object>(value_).emplace_back(key, std::move(value)).second;
}

Json& Json::push(Json value) {
    if (!std::holds_alternative<Array>(value_)) value_ = Array{};
    return std::get<Array>(value_).emplace_back(std::move(value));
}

Json* Json::find(const std::string& key) {
    if (!std::holds_alternative<Object>(value_)) return nullptr;
    for (auto& member : std::get<Object>(value_))
        if (member.first == key) return &member.second;
    return nullptr;
}

std::string Json::dump() const {
    std::string out;
    appendTo(out);
    return out;
}

void Json::appendTo(std::string& out) const {
    std::visit(Writer{out}, value_);
}

}  // namespace snaphost
