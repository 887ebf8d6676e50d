#pragma once
// The host's small services of the operating system, one interface each: the
// administrator prompt, holding off idle sleep and the power source, the login item,
// the permissions a session needs, and opening a file in its usual program. Start-up
// chooses the desktop backends (platform/linux) into the Platform; tests hand in
// recorded or scripted ones (tests/support). The stand-ins (none()) answer the safe
// way: no rights, no assertion, on AC power, not at login, no permissions, nothing
// opened.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace wl {

// What asking for administrator rights came to. A refusal (a wrong password, the prompt
// dismissed) is a quiet no; cannotAsk means the system could not ask at all, and says
// what went wrong and what to do about it in words for the person (for an alert).
struct AdminAnswer {
    enum class Kind { granted, refused, cannotAsk };
    Kind kind = Kind::refused;
    std::string problem; // cannotAsk only

    static AdminAnswer granted() { return {Kind::granted, {}}; }
    static AdminAnswer refused() { return {Kind::refused, {}}; }
    static AdminAnswer cannotAsk(std::string problem) { return {Kind::cannotAsk, std::move(problem)}; }
    bool isGranted() const { return kind == Kind::granted; }
    bool operator==(const AdminAnswer&) const = default;
};

class AdminPrompt {
public:
    virtual ~AdminPrompt() = default;
    // Asks the system for administrator rights (it shows its own prompt). Runs modally.
    virtual AdminAnswer askForAdminRights() = 0;

    // The safe stand-in (see above).
    static std::shared_ptr<AdminPrompt> none();
};

class PowerManagement {
public:
    virtual ~PowerManagement() = default;
    // Holds off idle sleep; a non-zero handle, or 0 with the reason in error.
    virtual std::uint32_t preventIdleSleep(const std::string& name, std::string& error) = 0;
    virtual void allowIdleSleep(std::uint32_t handle) = 0;
    // True on AC power, also when the power source can't be told.
    virtual bool isOnACPower() = 0;
    // Calls changed (on the main thread) whenever the power source may have changed,
    // until stopWatchingPowerSource(). A second watch replaces the first.
    virtual void watchPowerSource(std::function<void()> changed) = 0;
    virtual void stopWatchingPowerSource() = 0;

    // The safe stand-in (see above).
    static std::shared_ptr<PowerManagement> none();
};

class LoginItem {
public:
    virtual ~LoginItem() = default;
    // Whether the program opens at login.
    virtual bool isEnabled() = 0;
    // Registers (opens programPath at login) or unregisters; false with the reason in
    // error when that failed.
    virtual bool setEnabled(bool enabled, const std::string& programPath, std::string& error) = 0;
    // The path of the running program.
    virtual std::string programPath() = 0;

    // The safe stand-in (see above).
    static std::shared_ptr<LoginItem> none();
};

class Permissions {
public:
    virtual ~Permissions() = default;
    // Whether the screen can be read (screen recording).
    virtual bool canRecordScreen() = 0;
    // Whether input can be posted (the helper's take-over).
    virtual bool canControl() = 0;
    // Asks the user to allow input posting, where the system has such a question.
    virtual void requestControl() = 0;

    // The safe stand-in (see above).
    static std::shared_ptr<Permissions> none();
};

class Workspace {
public:
    enum class PrivacyPane { screenRecording, accessibility };

    virtual ~Workspace() = default;
    // Opens the file in the user's usual program for it; false when it couldn't.
    virtual bool openFile(const std::string& path) = 0;
    // Opens the system's settings for a permission. X11 desktops have no such pane: the
    // default says so in the log.
    virtual void openPrivacySettings(PrivacyPane pane);

    // The safe stand-in (see above).
    static std::shared_ptr<Workspace> none();
};

} // namespace wl
