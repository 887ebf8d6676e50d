#pragma once
// User settings under the program's WL… keys. The desktop backend keeps them in a
// QSettings INI file (platform/linux/SettingsDefaults.h); tests use MemoryDefaults.
// Record lists are stored as JSON bytes, sets of ids as string lists.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class Defaults {
public:
    virtual ~Defaults() = default;

    virtual bool contains(const std::string& key) const = 0;
    virtual void remove(const std::string& key) = 0;

    // Raw bytes (JSON documents, sealed data). Absent → nullopt.
    virtual std::optional<std::string> data(const std::string& key) const = 0;
    virtual void setData(const std::string& key, const std::string& bytes) = 0;

    virtual std::optional<std::string> string(const std::string& key) const = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;

    // false / 0 / empty when absent or not of that type.
    virtual bool boolValue(const std::string& key) const = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
    virtual std::optional<double> number(const std::string& key) const = 0;
    virtual void setNumber(const std::string& key, double value) = 0;
    virtual std::vector<std::string> stringList(const std::string& key) const = 0;
    virtual void setStringList(const std::string& key, const std::vector<std::string>& value) = 0;

    // Writes pending changes to lasting storage now; false when they could not be written.
    // Callers that are about to let go of the only other copy of something (mail the
    // service deletes once acknowledged) call it first.
    virtual bool sync() { return true; }
};

// Settings held in memory only; thread-safe. Used by tests: the program keeps its
// settings in lasting storage, and a part made without any is a wiring mistake.
class MemoryDefaults : public Defaults {
public:
    bool contains(const std::string& key) const override;
    void remove(const std::string& key) override;
    std::optional<std::string> data(const std::string& key) const override;
    void setData(const std::string& key, const std::string& bytes) override;
    std::optional<std::string> string(const std::string& key) const override;
    void setString(const std::string& key, const std::string& value) override;
    bool boolValue(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;
    std::optional<double> number(const std::string& key) const override;
    void setNumber(const std::string& key, double value) override;
    std::vector<std::string> stringList(const std::string& key) const override;
    void setStringList(const std::string& key, const std::vector<std::string>& value) override;

private:
    struct Value {
        enum class Type { data, string, boolean, number, list } type;
        std::string text;
        double num = 0;
        std::vector<std::string> list;
    };
    mutable std::mutex lock_;
    std::map<std::string, Value> values_;
};

} // namespace wl
