#include "platform/Defaults.h"

namespace wl {

bool MemoryDefaults::contains(const std::string& key) const
{
    std::lock_guard guard(lock_);
    return values_.count(key) != 0;
}

void MemoryDefaults::remove(const std::string& key)
{
    std::lock_guard guard(lock_);
    values_.erase(key);
}

std::optional<std::string> MemoryDefaults::data(const std::string& key) const
{
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end() || (it->second.type != Value::Type::data && it->second.type != Value::Type::string))
        return std::nullopt;
    return it->second.text;
}

void MemoryDefaults::setData(const std::string& key, const std::string& bytes)
{
    std::lock_guard guard(lock_);
    values_[key] = Value{Value::Type::data, bytes, 0, {}};
}

std::optional<std::string> MemoryDefaults::string(const std::string& key) const
{
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end() || it->second.type != Value::Type::string)
        return std::nullopt;
    return it->second.text;
}

void MemoryDefaults::setString(const std::string& key, const std::string& value)
{
    std::lock_guard guard(lock_);
    values_[key] = Value{Value::Type::string, value, 0, {}};
}

bool MemoryDefaults::boolValue(const std::string& key) const
{
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end())
        return false;
    if (it->second.type == Value::Type::boolean || it->second.type == Value::Type::number)
        return it->second.num != 0;
    if (it->second.type == Value::Type::string)
        return it->second.text == "true" || it->second.text == "1" || it->second.text == "YES";
    return false;
}

void MemoryDefaults::setBool(const std::string& key, bool value)
{
    std::lock_guard guard(lock_);
    values_[key] = Value{Value::Type::boolean, {}, value ? 1.0 : 0.0, {}};
}

std::optional<double> MemoryDefaults::number(const std::string& key) const
{
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end() || (it->second.type != Value::Type::number && it->second.type != Value::Type::boolean))
        return std::nullopt;
    return it->second.num;
}

void MemoryDefaults::setNumber(const std::string& key, double value)
{
    std::lock_guard guard(lock_);
    values_[key] = Value{Value::Type::number, {}, value, {}};
}

std::vector<std::string> MemoryDefaults::stringList(const std::string& key) const
{
    std::lock_guard guard(lock_);
    auto it = values_.find(key);
    if (it == values_.end() || it->second.type != Value::Type::list)
        return {};
    return it->second.list;
}

void MemoryDefaults::setStringList(const std::string& key, const std::vector<std::string>& value)
{
    std::lock_guard guard(lock_);
    values_[key] = Value{Value::Type::list, {}, 0, value};
}

} // namespace wl
