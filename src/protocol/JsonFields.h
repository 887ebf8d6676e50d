#pragma once
// Helpers shared by the wire records' JSON coding: a field reader that checks types and
// ranges and records the first error, writers that leave absent optionals out, and the
// text encode/decode that never throws.

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace wl::jsonfields {

// Integer of type T from a JSON number: integers in range, or floats with an integral
// value in range. Anything else fails.
template <class T>
bool toInteger(const nlohmann::json& v, T& out)
{
    static_assert(std::is_integral_v<T>);
    using L = std::numeric_limits<T>;
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(L::max()))
            return false;
        out = static_cast<T>(u);
        return true;
    }
    if (v.is_number_integer()) {
        const auto i = v.get<std::int64_t>();
        if constexpr (std::is_signed_v<T>) {
            if (i < static_cast<std::int64_t>(L::min()) || i > static_cast<std::int64_t>(L::max()))
                return false;
        } else {
            if (i < 0 || static_cast<std::uint64_t>(i) > static_cast<std::uint64_t>(L::max()))
                return false;
        }
        out = static_cast<T>(i);
        return true;
    }
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d)
            return false;
        const double limit = std::ldexp(1.0, L::digits); // exclusive upper bound, exact
        const double lower = std::is_signed_v<T> ? -limit : 0.0;
        if (d < lower || d >= limit)
            return false;
        out = static_cast<T>(d);
        return true;
    }
    return false;
}

class Reader {
public:
    Reader(const nlohmann::json& j, std::string* error, const char* record) : j_(j), error_(error), record_(record)
    {
        if (!j_.is_object())
            fail("", "is not a JSON object");
    }

    bool ok() const { return ok_; }

    // The value under key, or nullptr when absent or null.
    const nlohmann::json* find(const char* key) const
    {
        if (!ok_)
            return nullptr;
        auto it = j_.find(key);
        if (it == j_.end() || it->is_null())
            return nullptr;
        return &*it;
    }

    void fail(const std::string& key, const std::string& what)
    {
        if (!ok_)
            return;
        ok_ = false;
        if (error_)
            *error_ = std::string(record_) + (key.empty() ? "" : "." + key) + ": " + what;
    }

    const nlohmann::json* required(const char* key)
    {
        if (!ok_)
            return nullptr;
        const nlohmann::json* v = find(key);
        if (!v)
            fail(key, "is missing");
        return v;
    }

    void string(const char* key, std::string& out)
    {
        if (auto* v = required(key))
            readString(key, *v, out);
    }

    void string(const char* key, std::optional<std::string>& out)
    {
        if (auto* v = find(key)) {
            std::string s;
            if (readString(key, *v, s))
                out = std::move(s);
        }
    }

    void number(const char* key, double& out)
    {
        if (auto* v = required(key))
            readDouble(key, *v, out);
    }

    void number(const char* key, std::optional<double>& out)
    {
        if (auto* v = find(key)) {
            double d = 0;
            if (readDouble(key, *v, d))
                out = d;
        }
    }

    template <class T>
    void integer(const char* key, T& out)
    {
        if (auto* v = required(key)) {
            if (!toInteger(*v, out))
                fail(key, "is not an integer in range");
        }
    }

    template <class T>
    void integer(const char* key, std::optional<T>& out)
    {
        if (auto* v = find(key)) {
            T value{};
            if (toInteger(*v, value))
                out = value;
            else
                fail(key, "is not an integer in range");
        }
    }

    void boolean(const char* key, std::optional<bool>& out)
    {
        if (auto* v = find(key)) {
            if (v->is_boolean())
                out = v->get<bool>();
            else
                fail(key, "is not a boolean");
        }
    }

    template <class T>
    void record(const char* key, std::optional<T>& out)
    {
        if (auto* v = find(key))
            readRecord(key, *v, out);
    }

    template <class T>
    void records(const char* key, std::vector<T>& out)
    {
        if (auto* v = required(key))
            readRecords(key, *v, out);
    }

    template <class T>
    void records(const char* key, std::optional<std::vector<T>>& out)
    {
        if (auto* v = find(key)) {
            std::vector<T> list;
            if (readRecords(key, *v, list))
                out = std::move(list);
        }
    }

    void strings(const char* key, std::vector<std::string>& out)
    {
        auto* v = required(key);
        if (!v)
            return;
        if (!v->is_array()) {
            fail(key, "is not an array");
            return;
        }
        for (const auto& item : *v) {
            if (!item.is_string()) {
                fail(key, "holds a value that is not a string");
                return;
            }
            out.push_back(item.get<std::string>());
        }
    }

    // A word that parse() turns into an enum value.
    template <class E, class Parse>
    void word(const char* key, E& out, Parse parse)
    {
        if (auto* v = required(key))
            readWord(key, *v, out, parse);
    }

    template <class E, class Parse>
    void word(const char* key, std::optional<E>& out, Parse parse)
    {
        if (auto* v = find(key)) {
            E e{};
            if (readWord(key, *v, e, parse))
                out = e;
        }
    }

private:
    bool readString(const char* key, const nlohmann::json& v, std::string& out)
    {
        if (!v.is_string()) {
            fail(key, "is not a string");
            return false;
        }
        out = v.get<std::string>();
        return true;
    }

    bool readDouble(const char* key, const nlohmann::json& v, double& out)
    {
        if (!v.is_number()) {
            fail(key, "is not a number");
            return false;
        }
        const double d = v.get<double>();
        if (!std::isfinite(d)) {
            fail(key, "is not a finite number");
            return false;
        }
        out = d;
        return true;
    }

    template <class T>
    bool readRecord(const char* key, const nlohmann::json& v, std::optional<T>& out)
    {
        std::string inner;
        auto value = T::fromJson(v, &inner);
        if (!value) {
            fail(key, inner);
            return false;
        }
        out = std::move(*value);
        return true;
    }

    template <class T>
    bool readRecords(const char* key, const nlohmann::json& v, std::vector<T>& out)
    {
        if (!v.is_array()) {
            fail(key, "is not an array");
            return false;
        }
        out.reserve(v.size());
        for (const auto& item : v) {
            std::optional<T> value;
            if (!readRecord(key, item, value))
                return false;
            out.push_back(std::move(*value));
        }
        return true;
    }

    template <class E, class Parse>
    bool readWord(const char* key, const nlohmann::json& v, E& out, Parse parse)
    {
        if (!v.is_string()) {
            fail(key, "is not a string");
            return false;
        }
        auto e = parse(v.get_ref<const std::string&>());
        if (!e) {
            fail(key, "\"" + v.get<std::string>() + "\" is not a known value");
            return false;
        }
        out = *e;
        return true;
    }

    const nlohmann::json& j_;
    std::string* error_;
    const char* record_;
    bool ok_ = true;
};

template <class T>
void put(nlohmann::json& j, const char* key, const std::optional<T>& value)
{
    if (value)
        j[key] = *value;
}

template <class T>
void putRecord(nlohmann::json& j, const char* key, const std::optional<T>& value)
{
    if (value)
        j[key] = value->toJson();
}

template <class T>
nlohmann::json recordList(const std::vector<T>& values)
{
    nlohmann::json list = nlohmann::json::array();
    for (const auto& v : values)
        list.push_back(v.toJson());
    return list;
}

// Compact JSON text; invalid UTF-8 in strings is replaced rather than thrown on.
inline std::string dumpCompact(const nlohmann::json& j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

inline std::optional<nlohmann::json> parseText(std::string_view text, std::string* error)
{
    // The parser stops at a NUL byte as if the text ended there; JSON text never holds one
    // (inside strings it must be escaped), so refuse it rather than read a prefix.
    if (text.find('\0') != std::string_view::npos) {
        if (error)
            *error = "malformed JSON: NUL byte";
        return std::nullopt;
    }
    try {
        nlohmann::json j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
        if (j.is_discarded()) {
            if (error)
                *error = "malformed JSON";
            return std::nullopt;
        }
        return j;
    } catch (const std::exception& e) {
        if (error)
            *error = std::string("malformed JSON: ") + e.what();
        return std::nullopt;
    }
}

// fromJson wrapped so no exception escapes.
template <class T>
std::optional<T> safeFromJson(const nlohmann::json& j, std::string* error,
                              std::optional<T> (*body)(const nlohmann::json&, std::string*))
{
    try {
        return body(j, error);
    } catch (const std::exception& e) {
        if (error)
            *error = std::string("could not decode: ") + e.what();
        return std::nullopt;
    }
}

template <class T>
std::optional<T> decodeText(std::string_view text, std::string* error)
{
    auto j = parseText(text, error);
    if (!j)
        return std::nullopt;
    return T::fromJson(*j, error);
}

} // namespace wl::jsonfields

// fromJson, encode and decode of a record T whose reading is done by `readFunction`
// (a function std::optional<T>(const nlohmann::json&, std::string*)).
#define WL_JSON_RECORD_CODING(T, readFunction)                                                                         \
    std::optional<T> T::fromJson(const nlohmann::json& j, std::string* error)                                          \
    {                                                                                                                  \
        return ::wl::jsonfields::safeFromJson<T>(j, error, readFunction);                                              \
    }                                                                                                                  \
    std::string T::encode() const                                                                                      \
    {                                                                                                                  \
        return ::wl::jsonfields::dumpCompact(toJson());                                                                \
    }                                                                                                                  \
    std::optional<T> T::decode(std::string_view text, std::string* error)                                              \
    {                                                                                                                  \
        return ::wl::jsonfields::decodeText<T>(text, error);                                                           \
    }
