#include "platform/linux/ProgramInfoDictionary.h"

#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/ServiceURL.h"

#include <QString>
#include <QUrl>

#include <cstdlib>

namespace wl {

ProgramInfoDictionary::ProgramInfoDictionary(std::shared_ptr<const Defaults> settings) : settings_(std::move(settings))
{
}

std::optional<std::string> ProgramInfoDictionary::builtIn(const std::string& key)
{
    if (key == InfoKey::introductionURL)
        return std::string(kDefaultIntroductionURL);
    if (key == InfoKey::feedURL || key == InfoKey::publicEDKey)
        return std::string();
    return std::nullopt;
}

std::optional<std::string> ProgramInfoDictionary::value(const std::string& key) const
{
    if (key.empty())
        return std::nullopt;
    std::optional<std::string> given;
    if (const char* env = std::getenv(key.c_str()))
        given = std::string(env);
    else
        given = settings_->string(key);
    const QString trimmed = given ? QString::fromStdString(*given).trimmed() : QString();
    if (key == InfoKey::introductionURL && given && !isUsableServiceURL(QUrl(trimmed, QUrl::StrictMode))) {
        if (!trimmed.isEmpty()) {
            std::lock_guard guard(lock_);
            if (loggedUnusable_ != *given) {
                loggedUnusable_ = *given;
                Log::line("Wickerlane: the introduction URL " + *given + " is not usable; using " +
                          kDefaultIntroductionURL);
            }
        }
        given.reset();
    }
    return given ? given : builtIn(key);
}

} // namespace wl
