#pragma once
// The owner check on Linux: asks for the current user's password in a small dialog that
// shows the reason, then runs a PAM conversation for that user off the main thread.
// Whatever the PAM stack of the service asks (a password, a fingerprint reader's
// message) is answered from that one dialog. A wrong password keeps the dialog open for
// another try; a stack that can't judge the password (a module missing or failing) closes
// it and answers false; when PAM can't start at all nothing is asked. Cancel answers false
// quietly; every other refusal is logged, a failure with PAM's words.

#include "platform/OwnerCheck.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class PamOwnerCheck final : public OwnerCheck {
public:
    // What PAM made of one password.
    enum class Verdict { confirmed, wrongPassword, cannotCheck };

    // Hands the check what was typed: a password, or nullopt when the user cancelled.
    // `judged`, when given, hears the verdict on the main thread; after wrongPassword the
    // asker keeps its dialog open and may hand over another password through the same
    // Reply. Without `judged`, a wrong password ends the check.
    class Reply {
    public:
        using Take = std::function<void(std::optional<std::string>, std::function<void(Verdict)>)>;
        explicit Reply(Take take) : take_(std::move(take)) { }
        void operator()(std::optional<std::string> typed, std::function<void(Verdict)> judged = {}) const
        {
            take_(std::move(typed), std::move(judged));
        }

    private:
        Take take_;
    };

    // Given the reason, asks for the password and answers through the Reply. Runs on the
    // main thread; the default shows the password dialog.
    using AskPassword = std::function<void(const std::string& reason, Reply reply)>;

    // The service's stack is read from the system's PAM configuration, or from
    // pamConfigDir when one is given.
    explicit PamOwnerCheck(std::string pamService = "login", AskPassword askPassword = {},
                           std::string pamConfigDir = {});
    ~PamOwnerCheck() override;

    void check(const std::string& reason, std::function<void(bool)> done) override;

    // One PAM authentication of `user` with `password` (blocking; any thread). Fills
    // error with PAM's words when the answer is cannotCheck.
    static Verdict authenticate(const std::string& pamService, const std::string& user, const std::string& password,
                                std::string* error = nullptr, const std::string& pamConfigDir = {});
    // Whether PAM can start the service for `user` at all (no prompt); else fills error.
    static bool canCheck(const std::string& pamService, const std::string& user, std::string* error = nullptr,
                         const std::string& pamConfigDir = {});
    static std::string currentUser();
    // The dialog of the desktop backend (OwnerPasswordDialog).
    static void askInDialog(const std::string& reason, Reply reply);

private:
    std::string service_;
    std::string configDir_;
    AskPassword ask_;
    std::shared_ptr<bool> alive_;
};

} // namespace wl
