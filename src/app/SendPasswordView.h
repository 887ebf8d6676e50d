#pragma once
// The form of the "Send a Password" panel: one password for one paired computer, sealed
// so that only that computer can open it, with how long it works. On success the form
// tells the password centre and closes its panel; a failure stays in the form, with what
// was typed, as "Not sent. " and the reason. The panel (SendPasswordPanel) is kept out of
// every captured picture of the screen.

#include "mail/SendPasswordPanelController.h"
#include "mail/StoredMessage.h"
#include "mail/PasswordLifetime.h"
#include "mail/Messenger.h"
#include "protocol/PairedDevice.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

namespace wl {

class CaptureExclusion;

class PasswordCenter;
class ShellPanel;

class SendPasswordView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 380;

    SendPasswordView(PasswordCenter& center, const PairedDevice& device, const std::optional<StoredMessage>& request,
                     std::function<void()> close, QWidget* parent = nullptr);

    bool sending() const { return sending_; }
    const std::optional<std::string>& problem() const { return problem_; }
    PasswordLifetime lifetime() const { return lifetime_; }

    void send();
    // The outcome of a send: closes on success, else names the failure.
    void sendErrorText(const std::optional<Messenger::SendError>& error);

private:
    void redraw();

    QPointer<PasswordCenter> center_;
    PairedDevice device_;
    std::optional<StoredMessage> request_;
    std::function<void()> close_;
    bool showsSecret_ = false;
    PasswordLifetime lifetime_ = PasswordLifetime::once;
    bool sending_ = false;
    std::optional<std::string> problem_;

    QLineEdit* label_;
    QLineEdit* secret_;
    QPushButton* eye_;
    QButtonGroup* lifetimes_;
    QLabel* explanation_;
    QWidget* problemRow_;
    QLabel* problemText_;
    QPushButton* sendButton_;
};

// The panel the password centre's controller keeps: titled "Send a Password", a new form
// for every show.
class SendPasswordPanel final : public SendPasswordWindow {
public:
    // exclusion: the registry that keeps the panel out of capture.
    SendPasswordPanel(PasswordCenter& center, std::shared_ptr<CaptureExclusion> exclusion);
    ~SendPasswordPanel() override;

    void host(const PairedDevice& device, const std::optional<StoredMessage>& request,
              std::function<void()> close) override;
    void centre() override;
    void present() override;
    void orderOut() override;
    bool isOnScreen() const override;
    void discardLater() override;

    ShellPanel* window() const { return panel_; }
    SendPasswordView* form() const;

private:
    QPointer<PasswordCenter> center_;
    QPointer<ShellPanel> panel_;
};

} // namespace wl
