#include "platform/linux/SettingsDefaults.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace wl {

namespace {
QString qkey(const std::string& key)
{
    return QString::fromStdString(key);
}
} // namespace

SettingsDefaults::SettingsDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Wickerlane"),
                                            QStringLiteral("Wickerlane")))
{
}

SettingsDefaults::SettingsDefaults(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsDefaults::~SettingsDefaults()
{
    std::lock_guard guard(lock_);
    settings_->sync();
}

QString SettingsDefaults::fileName() const
{
    std::lock_guard guard(lock_);
    return settings_->fileName();
}

bool SettingsDefaults::sync()
{
    std::lock_guard guard(lock_);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

bool SettingsDefaults::contains(const std::string& key) const
{
    std::lock_guard guard(lock_);
    return settings_->contains(qkey(key));
}

void SettingsDefaults::remove(const std::string& key)
{
    std::lock_guard guard(lock_);
    settings_->remove(qkey(key));
}

std::optional<std::string> SettingsDefaults::data(const std::string& key) const
{
    std::lock_guard guard(lock_);
    QVariant v = settings_->value(qkey(key));
    if (!v.isValid())
        return std::nullopt;
    if (v.typeId() == QMetaType::QByteArray) {
        QByteArray bytes = v.toByteArray();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    if (v.typeId() == QMetaType::QString)
        return v.toString().toStdString();
    return std::nullopt;
}

void SettingsDefaults::setData(const std::string& key, const std::string& bytes)
{
    std::lock_guard guard(lock_);
    settings_->setValue(qkey(key), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::optional<std::string> SettingsDefaults::string(const std::string& key) const
{
    std::lock_guard guard(lock_);
    QVariant v = settings_->value(qkey(key));
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString().toStdString();
}

void SettingsDefaults::setString(const std::string& key, const std::string& value)
{
    std::lock_guard guard(lock_);
    settings_->setValue(qkey(key), QString::fromStdString(value));
}

bool SettingsDefaults::boolValue(const std::string& key) const
{
    std::lock_guard guard(lock_);
    QVariant v = settings_->value(qkey(key));
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong: return v.toDouble() != 0;
    case QMetaType::QString: {
        // Values read back from the INI file are text.
        QString text = v.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("yes"))
            return true;
        bool ok = false;
        double number = text.toDouble(&ok);
        return ok && number != 0;
    }
    default: return false;
    }
}

void SettingsDefaults::setBool(const std::string& key, bool value)
{
    std::lock_guard guard(lock_);
    settings_->setValue(qkey(key), value);
}

std::optional<double> SettingsDefaults::number(const std::string& key) const
{
    std::lock_guard guard(lock_);
    QVariant v = settings_->value(qkey(key));
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1.0 : 0.0;
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong: return v.toDouble();
    case QMetaType::QString: {
        QString text = v.toString().trimmed();
        if (text == QLatin1String("true"))
            return 1.0;
        if (text == QLatin1String("false"))
            return 0.0;
        bool ok = false;
        double number = text.toDouble(&ok);
        if (ok)
            return number;
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

void SettingsDefaults::setNumber(const std::string& key, double value)
{
    std::lock_guard guard(lock_);
    settings_->setValue(qkey(key), value);
}

std::vector<std::string> SettingsDefaults::stringList(const std::string& key) const
{
    std::lock_guard guard(lock_);
    // The INI format writes an empty list as "@Invalid()" and a one-element list as a
    // plain string; both read back as such.
    QVariant v = settings_->value(qkey(key));
    QStringList list;
    if (v.typeId() == QMetaType::QStringList)
        list = v.toStringList();
    else if (v.typeId() == QMetaType::QString)
        list = QStringList{v.toString()};
    std::vector<std::string> result;
    for (const auto& item : list)
        result.push_back(item.toStdString());
    return result;
}

void SettingsDefaults::setStringList(const std::string& key, const std::vector<std::string>& value)
{
    std::lock_guard guard(lock_);
    QStringList list;
    for (const auto& item : value)
        list.append(QString::fromStdString(item));
    settings_->setValue(qkey(key), list);
}

} // namespace wl
