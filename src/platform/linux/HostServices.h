#pragma once
// The Linux backends of the host's system services (platform/SystemServices.h).

#include "platform/SystemServices.h"
#include "platform/linux/XConnection.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

namespace wl {

// polkit: `pkcheck --allow-user-interaction` for an action that needs an administrator
// (auth_admin); the polkit agent of the session shows its own prompt. The event loop
// keeps running while it waits. pkcheck's exit status tells a refusal (1: not allowed,
// 3: the prompt was dismissed) from not being able to ask at all (2: no authentication
// agent, 127: polkit could not check, 126: options it can't take or no polkit to reach,
// or no pkcheck); the latter answers cannotAsk with what to do, and leaves one log line
// with pkcheck's words.
class PolkitAdminPrompt final : public AdminPrompt {
public:
    static constexpr const char* kAction = "org.freedesktop.policykit.exec";
    explicit PolkitAdminPrompt(std::string program = "pkcheck") : program_(std::move(program)) { }
    AdminAnswer askForAdminRights() override;

    // The problem told when no polkit authentication agent is running (pkcheck's 2).
    static std::string noAgentProblem();

private:
    std::string program_;
};

// Idle sleep is held off with, in this order of preference: logind's Inhibit("idle")
// on the system bus (held as long as its file descriptor is open), the session's
// org.freedesktop.ScreenSaver Inhibit, else XScreenSaverSuspend on the X display. The
// power source is UPower's OnBattery (no UPower: on AC), watched through its
// PropertiesChanged signal. Main thread only.
class DBusPowerManagement final : public QObject, public PowerManagement {
    Q_OBJECT
public:
    // The buses to use; the desktop's own system and session buses by default.
    DBusPowerManagement();
    DBusPowerManagement(QDBusConnection systemBus, QDBusConnection sessionBus);
    ~DBusPowerManagement() override;

    std::uint32_t preventIdleSleep(const std::string& name, std::string& error) override;
    void allowIdleSleep(std::uint32_t handle) override;
    bool isOnACPower() override;
    void watchPowerSource(std::function<void()> changed) override;
    void stopWatchingPowerSource() override;

private Q_SLOTS:
    void powerPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    struct Hold {
        enum class Kind { logind, screenSaver, x11 } kind;
        int fd = -1; // logind
        std::uint32_t cookie = 0; // ScreenSaver
    };
    std::optional<Hold> tryLogind(const std::string& name, std::string& why);
    std::optional<Hold> tryScreenSaver(const std::string& name, std::string& why);
    std::optional<Hold> tryX11(std::string& why);

    QDBusConnection system_;
    QDBusConnection session_;
    std::map<std::uint32_t, Hold> holds_;
    std::uint32_t nextHandle_ = 1;
    std::unique_ptr<XConnection> x11_; // XScreenSaverSuspend
    std::function<void()> powerChanged_;
    bool watching_ = false;
};

// An XDG autostart entry, $XDG_CONFIG_HOME/autostart/<application id>.desktop;
// enabled when it exists and does not say Hidden=true.
class XdgLoginItem final : public LoginItem {
public:
    XdgLoginItem();
    explicit XdgLoginItem(std::filesystem::path entry) : entry_(std::move(entry)) { }
    static std::filesystem::path defaultEntry();

    bool isEnabled() override;
    bool setEnabled(bool enabled, const std::string& programPath, std::string& error) override;
    std::string programPath() override;

    const std::filesystem::path& entry() const { return entry_; }

private:
    std::filesystem::path entry_;
};

// The program's entry in the desktop's list of applications,
// $XDG_DATA_HOME/applications/<application id>.desktop, through which it can be opened
// again (a second launch shows the running copy's window). Written when missing or when
// it names another copy of the program; true when it names this one afterwards.
std::filesystem::path applicationEntryPath();
bool refreshApplicationEntry(const std::filesystem::path& entry, const std::string& programPath);

// Screen recording: the root window can be read (one pixel through XGetImage).
// Control: the XTest extension answers. X11 has no question to ask for it.
class X11Permissions final : public Permissions {
public:
    bool canRecordScreen() override;
    bool canControl() override;
    void requestControl() override;
};

// QDesktopServices.
class DesktopWorkspace final : public Workspace {
public:
    bool openFile(const std::string& path) override;
};

} // namespace wl
