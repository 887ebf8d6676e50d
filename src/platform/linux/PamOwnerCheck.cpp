#include "platform/linux/PamOwnerCheck.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include "platform/linux/OwnerPasswordDialog.h"

#include <QPointer>

#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace wl {

namespace {

struct Conversation {
    std::string user;
    std::string password;
};

int converse(int count, const struct pam_message** messages, struct pam_response** responses, void* data)
{
    if (count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto* conversation = static_cast<Conversation*>(data);
    auto* replies = static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!replies)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const char* answer = nullptr;
        switch (messages[i]->msg_style) {
        case PAM_PROMPT_ECHO_OFF: answer = conversation->password.c_str(); break;
        case PAM_PROMPT_ECHO_ON: answer = conversation->user.c_str(); break;
        case PAM_ERROR_MSG:
        case PAM_TEXT_INFO:
            if (messages[i]->msg)
                Log::line(std::string("Wickerlane: owner check: ") + messages[i]->msg);
            break;
        default:
            for (int j = 0; j < i; ++j)
                std::free(replies[j].resp);
            std::free(replies);
            return PAM_CONV_ERR;
        }
        if (answer) {
            replies[i].resp = strdup(answer);
            if (!replies[i].resp) {
                for (int j = 0; j < i; ++j)
                    std::free(replies[j].resp);
                std::free(replies);
                return PAM_BUF_ERR;
            }
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

} // namespace

PamOwnerCheck::PamOwnerCheck(std::string pamService, AskPassword askPassword, std::string pamConfigDir)
    : service_(std::move(pamService)), configDir_(std::move(pamConfigDir)), ask_(std::move(askPassword)),
      alive_(std::make_shared<bool>(true))
{
    if (!ask_)
        ask_ = &PamOwnerCheck::askInDialog;
}

PamOwnerCheck::~PamOwnerCheck()
{
    *alive_ = false;
}

std::string PamOwnerCheck::currentUser()
{
    if (auto* entry = getpwuid(getuid()); entry && entry->pw_name)
        return entry->pw_name;
    return {};
}

namespace {

int startPam(const std::string& service, const std::string& user, const pam_conv& conv, const std::string& configDir,
             pam_handle_t** handle, std::string* error)
{
    int status = configDir.empty() ? pam_start(service.c_str(), user.c_str(), &conv, handle)
                                   : pam_start_confdir(service.c_str(), user.c_str(), &conv, configDir.c_str(), handle);
    if (status != PAM_SUCCESS) {
        if (error)
            *error = "PAM can't start the \"" + service + "\" service (" + pam_strerror(*handle, status) + ")";
        if (*handle)
            pam_end(*handle, status);
        *handle = nullptr;
    }
    return status;
}

} // namespace

bool PamOwnerCheck::canCheck(const std::string& pamService, const std::string& user, std::string* error,
                             const std::string& pamConfigDir)
{
    Conversation nobody{user, {}};
    pam_conv conv{&converse, &nobody};
    pam_handle_t* handle = nullptr;
    if (startPam(pamService, user, conv, pamConfigDir, &handle, error) != PAM_SUCCESS)
        return false;
    pam_end(handle, PAM_SUCCESS);
    return true;
}

PamOwnerCheck::Verdict PamOwnerCheck::authenticate(const std::string& pamService, const std::string& user,
                                                   const std::string& password, std::string* error,
                                                   const std::string& pamConfigDir)
{
    Conversation conversation{user, password};
    pam_conv conv{&converse, &conversation};
    pam_handle_t* handle = nullptr;
    if (startPam(pamService, user, conv, pamConfigDir, &handle, error) != PAM_SUCCESS)
        return Verdict::cannotCheck;
    int status = pam_authenticate(handle, PAM_DISALLOW_NULL_AUTHTOK);
    // A wrong password, or one a module answers as an unknown user (so as not to say which
    // of the two was wrong); anything else means the stack could not judge the password:
    // a module missing or failing, no account data, a conversation that broke down, …
    const bool judged = status == PAM_SUCCESS || status == PAM_AUTH_ERR || status == PAM_USER_UNKNOWN;
    if (!judged && error)
        *error = std::string(pam_strerror(handle, status)) + " (PAM error " + std::to_string(status) + ")";
    pam_end(handle, status);
    // Wipe our copy of the password.
    std::fill(conversation.password.begin(), conversation.password.end(), '\0');
    if (status == PAM_SUCCESS)
        return Verdict::confirmed;
    return judged ? Verdict::wrongPassword : Verdict::cannotCheck;
}

void PamOwnerCheck::askInDialog(const std::string& reason, Reply reply)
{
    auto* dialog = new OwnerPasswordDialog(reason);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<OwnerPasswordDialog> shown(dialog);
    dialog->onAllow = [shown, reply](const std::string& password) {
        shown->showChecking();
        reply(password, [shown](Verdict verdict) {
            if (!shown)
                return;
            if (verdict == Verdict::wrongPassword)
                shown->showWrongPassword();
            else
                shown->accept();
        });
    };
    dialog->onCancel = [reply] { reply(std::nullopt); };
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

namespace {

// One check, from the question to its single answer.
struct Attempt {
    std::function<void(bool)> done;
    bool finished = false;
    bool judging = false; // a password is with PAM

    void finish(bool confirmed)
    {
        if (finished)
            return;
        finished = true;
        if (done)
            done(confirmed);
    }
};

} // namespace

void PamOwnerCheck::check(const std::string& reason, std::function<void(bool)> done)
{
    auto user = currentUser();
    if (user.empty()) {
        Log::line("Wickerlane: can't confirm the owner: the current user has no name");
        if (done)
            done(false);
        return;
    }
    // Nothing is asked when PAM can't check at all (no such service, a broken stack).
    std::string error;
    if (!canCheck(service_, user, &error, configDir_)) {
        Log::line("Wickerlane: can't confirm the owner: " + error);
        if (done)
            done(false);
        return;
    }
    auto attempt = std::make_shared<Attempt>();
    attempt->done = std::move(done);
    auto alive = alive_;
    auto service = service_;
    auto configDir = configDir_;
    ask_(reason,
         Reply([attempt, alive, service, configDir, user](std::optional<std::string> password,
                                                          std::function<void(Verdict)> judged) {
             if (attempt->finished)
                 return;
             if (!password) { // the person's own choice: nothing to log
                 attempt->finish(false);
                 return;
             }
             if (attempt->judging || !*alive)
                 return;
             attempt->judging = true;
             // PAM may sleep (failure delays) or talk to devices: never on the main thread.
             std::thread([attempt, alive, service, configDir, user, secret = std::move(*password),
                          judged = std::move(judged)]() mutable {
                 std::string error;
                 Verdict verdict = authenticate(service, user, secret, &error, configDir);
                 std::fill(secret.begin(), secret.end(), '\0');
                 // Dropped when the application is gone.
                 postToMainThread([attempt, alive, verdict, error, judged] {
                     attempt->judging = false;
                     if (attempt->finished || !*alive)
                         return;
                     switch (verdict) {
                     case Verdict::confirmed: break;
                     case Verdict::wrongPassword:
                         Log::line("Wickerlane: the owner wasn't confirmed: the password was wrong");
                         break;
                     case Verdict::cannotCheck: Log::line("Wickerlane: can't confirm the owner: " + error); break;
                     }
                     if (judged)
                         judged(verdict);
                     if (verdict != Verdict::wrongPassword || !judged)
                         attempt->finish(verdict == Verdict::confirmed);
                 });
             }).detach();
         }));
}

} // namespace wl
