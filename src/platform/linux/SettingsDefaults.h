#pragma once
// Settings in a QSettings INI file in the user's config folder
// ($XDG_CONFIG_HOME/Wickerlane/Wickerlane.conf). Data is stored as QByteArray,
// string lists as QStringList. Thread-safe.

#include "platform/Defaults.h"

#include <QString>

#include <memory>
#include <mutex>

class QSettings;

namespace wl {

class SettingsDefaults final : public Defaults {
public:
    // The user's settings file of the program.
    SettingsDefaults();
    // A settings file at the given path (tests).
    explicit SettingsDefaults(const QString& iniPath);
    ~SettingsDefaults() override;

    QString fileName() const;
    // Writes pending changes to disk (also done on destruction and by Qt's own timer).
    bool sync() override;

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
    mutable std::mutex lock_;
    std::unique_ptr<QSettings> settings_;
};

} // namespace wl
