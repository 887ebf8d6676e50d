#include "platform/SystemServices.h"

#include "platform/Log.h"

namespace wl {

namespace {

// The safe stand-ins.
class NoAdminPrompt final : public AdminPrompt {
public:
    AdminAnswer askForAdminRights() override
    {
        Log::line("Wickerlane: can't ask for administrator rights: no prompt is available");
        return AdminAnswer::refused();
    }
};

class NoPowerManagement final : public PowerManagement {
public:
    std::uint32_t preventIdleSleep(const std::string&, std::string& error) override
    {
        error = "no power management is available";
        return 0;
    }
    void allowIdleSleep(std::uint32_t) override { }
    bool isOnACPower() override { return true; }
    void watchPowerSource(std::function<void()>) override { }
    void stopWatchingPowerSource() override { }
};

class NoLoginItem final : public LoginItem {
public:
    bool isEnabled() override { return false; }
    bool setEnabled(bool, const std::string&, std::string& error) override
    {
        error = "no login items are available";
        return false;
    }
    std::string programPath() override { return {}; }
};

class NoPermissions final : public Permissions {
public:
    bool canRecordScreen() override { return false; }
    bool canControl() override { return false; }
    void requestControl() override { }
};

class NoWorkspace final : public Workspace {
public:
    bool openFile(const std::string&) override { return false; }
};

} // namespace

std::shared_ptr<AdminPrompt> AdminPrompt::none()
{
    return std::make_shared<NoAdminPrompt>();
}

std::shared_ptr<PowerManagement> PowerManagement::none()
{
    return std::make_shared<NoPowerManagement>();
}

std::shared_ptr<LoginItem> LoginItem::none()
{
    return std::make_shared<NoLoginItem>();
}

std::shared_ptr<Permissions> Permissions::none()
{
    return std::make_shared<NoPermissions>();
}

void Workspace::openPrivacySettings(PrivacyPane pane)
{
    Log::line(std::string("Wickerlane: this desktop has no settings pane for ") +
              (pane == PrivacyPane::screenRecording ? "screen recording" : "input control") +
              "; on X11 both need only an X display that allows reading the screen and the XTEST extension");
}

std::shared_ptr<Workspace> Workspace::none()
{
    return std::make_shared<NoWorkspace>();
}

} // namespace wl
