#include "platform/linux/PamOwnerCheck.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
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

class OwnerPasswordDialog final : public QDialog {
public:
    explicit OwnerPasswordDialog(const std::string& reason)
    {
        setWindowTitle(QStringLiteral("Confirm it's you"));
        setWindowFlag(Qt::WindowStaysOnTopHint);
        auto* layout = new QVBoxLayout(this);
        auto* text = new QLabel(
            QString::fromStdString("Wickerlane wants to " + reason + ". Enter your password to allow this."));
        text->setWordWrap(true);
        layout->addWidget(text);
        field_ = new QLineEdit;
        field_->setEchoMode(QLineEdit::Password);
        field_->setMinimumWidth(320);
        layout->addWidget(field_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Allow"));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(buttons);
        field_->setFocus();
    }
    std::string password() const { return field_->text().toStdString(); }

private:
    QLineEdit* field_;
};

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

bool PamOwnerCheck::authenticate(const std::string& pamService, const std::string& user, const std::string& password,
                                 std::string* error, const std::string& pamConfigDir)
{
    Conversation conversation{user, password};
    pam_conv conv{&converse, &conversation};
    pam_handle_t* handle = nullptr;
    int status = pamConfigDir.empty()
        ? pam_start(pamService.c_str(), user.c_str(), &conv, &handle)
        : pam_start_confdir(pamService.c_str(), user.c_str(), &conv, pamConfigDir.c_str(), &handle);
    if (status != PAM_SUCCESS) {
        if (error)
            *error = handle ? pam_strerror(handle, status) : "PAM could not start";
        if (handle)
            pam_end(handle, status);
        return false;
    }
    status = pam_authenticate(handle, PAM_DISALLOW_NULL_AUTHTOK);
    pam_end(handle, status);
    // Wipe our copy of the password.
    std::fill(conversation.password.begin(), conversation.password.end(), '\0');
    return status == PAM_SUCCESS;
}

void PamOwnerCheck::askInDialog(const std::string& reason, std::function<void(std::optional<std::string>)> answer)
{
    auto* dialog = new OwnerPasswordDialog(reason);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer](int result) {
        if (result == QDialog::Accepted)
            answer(dialog->password());
        else
            answer(std::nullopt);
    });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

void PamOwnerCheck::check(const std::string& reason, std::function<void(bool)> done)
{
    auto user = currentUser();
    if (user.empty()) {
        Log::line("Wickerlane: can't confirm the owner: the current user has no name");
        if (done)
            done(false);
        return;
    }
    auto alive = alive_;
    auto service = service_;
    auto configDir = configDir_;
    ask_(reason, [alive, service, configDir, user, done](std::optional<std::string> password) {
        if (!password || !*alive) {
            if (done)
                done(false);
            return;
        }
        // PAM may sleep (failure delays) or talk to devices: never on the main thread.
        auto* app = QCoreApplication::instance();
        QPointer<QCoreApplication> context(app);
        std::thread([context, alive, service, configDir, user, secret = std::move(*password), done]() mutable {
            std::string error;
            bool ok = authenticate(service, user, secret, &error, configDir);
            std::fill(secret.begin(), secret.end(), '\0');
            if (!error.empty())
                Log::line("Wickerlane: can't confirm the owner: " + error);
            if (!context)
                return;
            QMetaObject::invokeMethod(
                context.data(),
                [alive, ok, done] {
                    if (*alive && done)
                        done(ok);
                },
                Qt::QueuedConnection);
        }).detach();
    });
}

} // namespace wl
