#include "platform/linux/DesktopPlatform.h"

#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/InfoDictionary.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/linux/FileKeyStore.h"
#include "platform/linux/ProgramInfoDictionary.h"
#include "platform/linux/QtLog.h"
#include "platform/linux/QtPrompts.h"
#include "platform/linux/SecretKeyStore.h"
#include "platform/linux/SettingsDefaults.h"
#include "platform/linux/XRandrDisplays.h"

namespace wl {

std::string keyStoreService()
{
    return std::string(kApplicationID) + ".identity";
}

std::shared_ptr<KeyStore> makeDesktopKeyStore()
{
    if (SecretKeyStore::keyringAnswers())
        return std::make_shared<SecretKeyStore>(keyStoreService());
    auto folder = FileKeyStore::defaultFolder();
    Log::line("Wickerlane: no keyring answers; keys are kept in " + folder.string());
    return std::make_shared<FileKeyStore>(folder);
}

void installDesktopPlatform()
{
    installQtLogSink();
    Defaults::setStandard(std::make_shared<SettingsDefaults>());
    KeyStore::setStandard(makeDesktopKeyStore());
    InfoDictionary::setStandard(std::make_shared<ProgramInfoDictionary>());
    Prompts::setStandard(std::make_shared<QtPrompts>());
    Displays::setStandard(std::make_shared<XRandrDisplays>());
}

} // namespace wl
