#pragma once
// Stand-ins for the host's system services in tests: a recorded power management with a
// switchable power source, switchable permissions, a scripted administrator prompt and
// a recorded workspace.
#include "platform/SystemServices.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wl::test {

class RecordingPowerManagement final : public PowerManagement {
public:
    std::uint32_t preventIdleSleep(const std::string& name, std::string& error) override;
    void allowIdleSleep(std::uint32_t handle) override;
    bool isOnACPower() override { return !onBattery; }
    void watchPowerSource(std::function<void()> changed) override;
    void stopWatchingPowerSource() override;

    // Switches the power source and tells the watcher, as the system would.
    void plugIn(bool acPower);

    bool onBattery = false;
    bool refuse = false; // preventIdleSleep fails
    std::map<std::uint32_t, std::string> held; // handle → name
    int taken = 0;
    int released = 0;
    int watchesStarted = 0;
    bool watching() const { return static_cast<bool>(watcher_); }

private:
    std::function<void()> watcher_;
    std::uint32_t next_ = 1;
};

class SwitchablePermissions final : public Permissions {
public:
    bool canRecordScreen() override { return recordScreen; }
    bool canControl() override { return control; }
    void requestControl() override { ++controlRequests; }

    bool recordScreen = true;
    bool control = true;
    int controlRequests = 0;
};

class ScriptedAdminPrompt final : public AdminPrompt {
public:
    AdminAnswer askForAdminRights() override
    {
        ++asked;
        if (answers.empty())
            return AdminAnswer::refused();
        AdminAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<AdminAnswer> answers; // refused when empty
    int asked = 0;
};

class RecordingWorkspace final : public Workspace {
public:
    bool openFile(const std::string& path) override
    {
        opened.push_back(path);
        return true;
    }
    void openPrivacySettings(PrivacyPane pane) override { panes.push_back(pane); }
    std::vector<std::string> opened;
    std::vector<PrivacyPane> panes;
};

} // namespace wl::test
