#pragma once
// The owner check on Linux: asks for the current user's password in a small dialog that
// shows the reason, then runs a PAM conversation for that user off the main thread.
// Whatever the PAM stack of the service asks (a password, a fingerprint reader's
// message) is answered from that one dialog.

#include "platform/OwnerCheck.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class PamOwnerCheck final : public OwnerCheck {
public:
    // Given the reason, answers the typed password, or nullopt when the user cancels.
    // Runs on the main thread; the default shows the password dialog.
    using AskPassword =
        std::function<void(const std::string& reason, std::function<void(std::optional<std::string>)> answer)>;

    // The service's stack is read from the system's PAM configuration, or from
    // pamConfigDir when one is given.
    explicit PamOwnerCheck(std::string pamService = "login", AskPassword askPassword = {},
                           std::string pamConfigDir = {});
    ~PamOwnerCheck() override;

    void check(const std::string& reason, std::function<void(bool)> done) override;

    // One PAM authentication of `user` with `password` (blocking; any thread). Fills
    // error when PAM itself could not run.
    static bool authenticate(const std::string& pamService, const std::string& user, const std::string& password,
                             std::string* error = nullptr, const std::string& pamConfigDir = {});
    static std::string currentUser();
    // The dialog of the desktop backend.
    static void askInDialog(const std::string& reason, std::function<void(std::optional<std::string>)> answer);

private:
    std::string service_;
    std::string configDir_;
    AskPassword ask_;
    std::shared_ptr<bool> alive_;
};

} // namespace wl
