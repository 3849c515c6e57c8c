// A JSON value, enough for snaphost's one result object; members keep their order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace snaphost {

class Json {
  public:
    using Array = std::vector<Json>;
    using Object = std::vector<std::pair<std::string, Json>>;

    Json() = default;  // null
    Json(std::nullptr_t) {}
    Json(bool b) : value_(b) {}
    Json(int n) : value_(static_cast<double>(n)) {}
    Json(unsigned n) : value_(static_cast<double>(n)) {}
    Json(long n) : value_(static_cast<double>(n)) {}
    Json(uint64_t n) : value_(static_cast<double>(n)) {}
    Json(double n) : value_(n) {}
    Json(const char* s) : value_(std::string(s)) {}
    Json(std::string s) : value_(std::move(s)) {}
    Json(Array a) : value_(std::move(a)) {}
    Json(Object o) : value_(std::move(o)) {}

    static Json object() { return Json(Object{}); }
    static Json array() { return Json(Array{}); }

    // Sets a member of an object (replacing one of that name), or appends to an array.
    Json& set(const std::string& key, Json value);
    Json& push(Json value);
    Json* find(const std::string& key);

    std::string dump() const;
    void appendTo(std::string& out) const;

  private:
    std::variant<std::monostate, bool, double, std::string, Array, Object> value_;
};

}  // namespace snaphost
