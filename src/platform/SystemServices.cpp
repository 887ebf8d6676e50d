#include "platform/SystemServices.h"

#include "platform/Log.h"

#include <mutex>

namespace wl {

namespace {

// Before start-up installs the desktop backends.
class NoAdminPrompt final : public AdminPrompt {
public:
    bool askForAdminRights() override
    {
        Log::line("Wickerlane: can't ask for administrator rights: no prompt is available");
        return false;
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

// One process-wide slot per interface, with the stand-in until one is installed.
template <typename Interface, typename Fallback>
struct Slot {
    static std::mutex& lock()
    {
        static std::mutex m;
        return m;
    }
    static std::shared_ptr<Interface>& value()
    {
        static std::shared_ptr<Interface> v = std::make_shared<Fallback>();
        return v;
    }
    static Interface& get()
    {
        std::lock_guard guard(lock());
        return *value();
    }
    static void set(std::shared_ptr<Interface> next)
    {
        std::lock_guard guard(lock());
        value() = next ? std::move(next) : std::make_shared<Fallback>();
    }
};

} // namespace

AdminPrompt& AdminPrompt::standard()
{
    return Slot<AdminPrompt, NoAdminPrompt>::get();
}
void AdminPrompt::setStandard(std::shared_ptr<AdminPrompt> prompt)
{
    Slot<AdminPrompt, NoAdminPrompt>::set(std::move(prompt));
}

PowerManagement& PowerManagement::standard()
{
    return Slot<PowerManagement, NoPowerManagement>::get();
}
void PowerManagement::setStandard(std::shared_ptr<PowerManagement> power)
{
    Slot<PowerManagement, NoPowerManagement>::set(std::move(power));
}

LoginItem& LoginItem::standard()
{
    return Slot<LoginItem, NoLoginItem>::get();
}
void LoginItem::setStandard(std::shared_ptr<LoginItem> item)
{
    Slot<LoginItem, NoLoginItem>::set(std::move(item));
}

Permissions& Permissions::standard()
{
    return Slot<Permissions, NoPermissions>::get();
}
void Permissions::setStandard(std::shared_ptr<Permissions> permissions)
{
    Slot<Permissions, NoPermissions>::set(std::move(permissions));
}

void Workspace::openPrivacySettings(PrivacyPane pane)
{
    Log::line(std::string("Wickerlane: this desktop has no settings pane for ") +
              (pane == PrivacyPane::screenRecording ? "screen recording" : "input control") +
              "; on X11 both need only an X display that allows reading the screen and the XTEST extension");
}

Workspace& Workspace::standard()
{
    return Slot<Workspace, NoWorkspace>::get();
}
void Workspace::setStandard(std::shared_ptr<Workspace> workspace)
{
    Slot<Workspace, NoWorkspace>::set(std::move(workspace));
}

} // namespace wl
