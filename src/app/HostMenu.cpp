#include "app/HostMenu.h"

#include "app/DateText.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "host/HostController.h"
#include "host/PairedHelpers.h"
#include "host/SessionHistory.h"
#include "mail/AppServices.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PasswordCenter.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

namespace wl {

namespace {

bool listedInMessages(MailContent::Kind kind)
{
    using K = MailContent::Kind;
    return kind == K::message || kind == K::reply || kind == K::helpRequest || kind == K::password;
}

} // namespace

HostMenu::HostMenu(HostController& controller, Messenger& messenger, HelpRequestCenter& helpRequests, Actions actions,
                   QObject* parent)
    : QObject(parent), controller_(&controller), messenger_(&messenger), helpRequests_(&helpRequests),
      actions_(std::move(actions)), menu_(std::make_unique<QMenu>())
{
    menu_->setTitle(QStringLiteral("Wickerlane"));
    connect(&controller, &HostController::changed, this, &HostMenu::scheduleRebuild);
    connect(&messenger, &Messenger::changed, this, &HostMenu::scheduleRebuild);
    connect(&helpRequests, &HelpRequestCenter::changed, this, &HostMenu::scheduleRebuild);
    connect(controller.services().myMacs.get(), &MyMacs::changed, this, &HostMenu::scheduleRebuild);
    connect(&controller.passwords(), &PasswordCenter::changed, this, &HostMenu::scheduleRebuild);
    rebuild();
}

HostMenu::~HostMenu() = default;

QString HostMenu::menuText(const std::string& text)
{
    return QString::fromStdString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void HostMenu::scheduleRebuild()
{
    if (rebuildQueued_)
        return;
    rebuildQueued_ = true;
    QPointer<HostMenu> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->rebuildQueued_)
            self->rebuild();
    });
}

QAction* HostMenu::addText(QMenu& menu, const std::string& text)
{
    QAction* action = menu.addAction(menuText(text));
    action->setEnabled(false);
    return action;
}

QAction* HostMenu::addButton(QMenu& menu, const std::string& text, std::function<void()> run)
{
    QAction* action = menu.addAction(menuText(text));
    QPointer<HostMenu> self(this);
    connect(action, &QAction::triggered, this, [self, run = std::move(run)] {
        if (self && run)
            run();
    });
    return action;
}

void HostMenu::rebuild()
{
    rebuildQueued_ = false;
    menu_->clear();
    for (auto& submenu : submenus_)
        if (submenu)
            submenu->deleteLater();
    submenus_.clear();
    if (!controller_ || !messenger_ || !helpRequests_)
        return;
    HostController& host = *controller_;
    HelpRequestCenter& requests = *helpRequests_;
    QMenu& menu = *menu_;

    // 1–3: where this computer stands.
    addText(menu, host.statusLine());
    addButton(menu, "Open Wickerlane\u2026", [this] { openMainWindow(); });
    if (!host.canRecordScreen())
        addButton(menu, "\u26A0\uFE0E Screen Recording is off: helpers can't see this Mac. Fix\u2026",
                  [this] { openScreenRecordingSettings(); });
    else if (!host.canControl())
        addButton(menu, "Accessibility is off: helpers can guide but not take over. Fix\u2026",
                  [this] { openAccessibilitySettings(); });
    menu.addSeparator();

    // 5: the help request.
    if (const auto& active = requests.active()) {
        const auto replies = requests.replies();
        std::string first;
        if (replies.empty()) {
            first = "Help requested \u00B7 waiting for " + requests.helperNamesText();
        } else {
            const auto& latest = replies.back();
            first = shownName(latest.peerName) + ": \u201C" +
                shownText(latest.content.text.value_or(""), kShownLineLength) + "\u201D";
        }
        addButton(menu, first, [this] { askForHelp(); });
        std::string asked = "Asked " + shortTime(active->sentAt).toStdString();
        if (active->topic)
            asked += " about " + QString::fromStdString(*active->topic).toLower().toStdString();
        addText(menu, asked);
        addButton(menu, "Cancel Help Request", [this] { cancelHelpRequest(); });
    } else {
        addButton(menu, "Ask for Help\u2026", [this] { askForHelp(); })->setEnabled(!host.helpers().empty());
    }
    menu.addSeparator();

    // 7–8: accepting help requests, the session.
    if (host.isListening())
        addButton(menu, "Turn Off Help Requests", [this] { turnOffHelpRequests(); });
    else
        addButton(menu, "Turn On Help Requests", [this] { turnOnHelpRequests(); });
    if (host.helperName())
        addButton(menu, "Stop Session", [this] { stopSession(); });
    menu.addSeparator();

    // 10–13: helpers, passwords, messages.
    addButton(menu, "Pair a New Helper\u2026", [this] { pairNewHelper(); })->setEnabled(!host.isPairing());
    if (host.helpers().empty()) {
        addText(menu, "No helpers paired yet");
    } else {
        addText(menu, "Helpers who can ask");
        for (const auto& helper : host.helpers())
            menu.addMenu(helperSubmenu(helper, menu));
    }
    PasswordCenter& passwords = host.passwords();
    const auto received = passwords.received();
    if (!received.empty())
        addButton(menu, "Passwords (" + std::to_string(received.size()) + " to copy)\u2026",
                  [this] { showPasswords(); });
    else if (!passwords.sent().empty())
        addButton(menu, "Passwords\u2026", [this] { showPasswords(); });
    std::vector<StoredMessage> listed;
    for (const auto& message : messenger_->messages())
        if (listedInMessages(message.content.kind))
            listed.push_back(message);
    if (!listed.empty()) {
        auto* submenu = new QMenu(QStringLiteral("Messages"), &menu);
        submenus_.emplace_back(submenu);
        messageRows(*submenu, listed);
        menu.addMenu(submenu);
    }
    menu.addSeparator();

    // 15–19: the program.
    addButton(menu, host.opensAtLogin() ? "\u2713 Open at Login" : "Open at Login", [this] { toggleOpenAtLogin(); });
    addButton(menu, "Show Session History", [this] { showSessionHistory(); });
    menu.addSeparator();
    if (actions_.hasUpdater && actions_.hasUpdater())
        addButton(menu, "Check for Updates\u2026", [this] { checkForUpdates(); });
    addButton(menu, "Quit Wickerlane", [this] { quit(); });
    Q_EMIT rebuilt();
}

QMenu* HostMenu::helperSubmenu(const PairedDevice& helper, QMenu& parent)
{
    std::string title = shownName(helper.name);
    const bool mine = controller_ && controller_->services().myMacs->isMine(helper.id);
    if (mine)
        title += " \u00B7 my Mac";
    if (helper.unattended)
        title += " \u00B7 unattended";
    auto* submenu = new QMenu(menuText(title), &parent);
    submenu->setObjectName(QString::fromStdString(helper.id));
    submenus_.emplace_back(submenu);
    helperMenuItems(*submenu, helper);
    return submenu;
}

void HostMenu::helperMenuItems(QMenu& submenu, const PairedDevice& helper)
{
    // Each action keeps its own copy of the record as it was when the menu was built.
    addText(submenu, "Paired " + abbreviatedDate(helper.pairedAt).toStdString());
    addButton(submenu, "Send a Message\u2026", [this, helper] { sendMessage(helper); });
    addButton(submenu, "Send a Password\u2026", [this, helper] { sendPassword(helper); });
    submenu.addSeparator();
    if (!helper.unattended) {
        addButton(submenu, "Allow Unattended Access\u2026", [this, helper] { allowUnattendedAccess(helper); });
    } else if (helper.unattended->failedAttempts >= PairedHelpers::kMaxWrongPINs) {
        addText(submenu,
                "Unattended access locked after " + std::to_string(helper.unattended->failedAttempts) + " wrong PINs");
        addButton(submenu, "Re-enable Unattended Access\u2026", [this, helper] { allowUnattendedAccess(helper); });
        addButton(submenu, "Turn Off Unattended Access", [this, helper] { turnOffUnattendedAccess(helper); });
    } else {
        addText(submenu, std::string("Can connect without asking") + (helper.unattended->pinKey ? " (with PIN)" : ""));
        addButton(submenu, "Turn Off Unattended Access", [this, helper] { turnOffUnattendedAccess(helper); });
    }
    submenu.addSeparator();
    if (controller_ && controller_->services().myMacs->isMine(helper.id))
        addButton(submenu, "One of your Macs: change in the Wickerlane window\u2026", [this] { openMainWindow(); });
    else
        addButton(submenu, "Remove " + shownName(helper.name), [this, helper] { removeHelper(helper); });
}

void HostMenu::messageRows(QMenu& submenu, const std::vector<StoredMessage>& messages)
{
    const std::size_t first = messages.size() > kMessageRows ? messages.size() - kMessageRows : 0;
    for (std::size_t i = messages.size(); i > first; --i)
        messageRow(submenu, messages[i - 1]);
}

void HostMenu::messageRow(QMenu& submenu, const StoredMessage& message)
{
    const auto& content = message.content;
    if (content.kind == MailContent::Kind::password) {
        const std::string name = shownName(message.peerName);
        const std::string who = message.outgoing ? "To " + name : name;
        addButton(submenu,
                  who + ": a password for " + shownText(content.label.value_or("something"), kShownTopicLength),
                  [this] { showPasswords(); });
        return;
    }
    if (message.outgoing) {
        addText(submenu,
                "To " + shownName(message.peerName) + ": " +
                    shownText(content.text.value_or(content.topic.value_or("")), kShownLineLength));
        return;
    }
    addButton(submenu,
              shownName(message.peerName) + ": " + shownText(content.text.value_or(""), kShownLineLength) +
                  " \u00B7 Reply\u2026",
              [this, message] { replyToMessage(message); });
}

// ---- actions ----

void HostMenu::openMainWindow()
{
    if (actions_.openMainWindow)
        actions_.openMainWindow();
}

void HostMenu::openScreenRecordingSettings()
{
    if (controller_)
        controller_->platform().workspace->openPrivacySettings(Workspace::PrivacyPane::screenRecording);
}

void HostMenu::openAccessibilitySettings()
{
    if (controller_)
        controller_->platform().workspace->openPrivacySettings(Workspace::PrivacyPane::accessibility);
}

void HostMenu::askForHelp()
{
    if (controller_ && helpRequests_)
        controller_->askForHelpPanel().show(*helpRequests_);
}

void HostMenu::cancelHelpRequest()
{
    if (helpRequests_)
        helpRequests_->cancel();
}

void HostMenu::turnOffHelpRequests()
{
    if (controller_)
        controller_->setAcceptingHelpRequests(false);
}

void HostMenu::turnOnHelpRequests()
{
    if (controller_)
        controller_->setAcceptingHelpRequests(true);
}

void HostMenu::stopSession()
{
    if (controller_)
        controller_->endSession(HostController::EndReason::stopped);
}

void HostMenu::pairNewHelper()
{
    if (controller_)
        controller_->pairedHelpers().startPairing();
}

void HostMenu::showPasswords()
{
    if (controller_)
        controller_->passwords().panel().show();
}

void HostMenu::toggleOpenAtLogin()
{
    // The check mark then shows what the system reports after the change.
    if (controller_)
        controller_->setOpensAtLogin(!controller_->opensAtLogin());
}

void HostMenu::showSessionHistory()
{
    if (controller_)
        openSessionHistory(*controller_->platform().workspace);
}

void HostMenu::checkForUpdates()
{
    if (actions_.checkForUpdates)
        actions_.checkForUpdates();
}

void HostMenu::quit()
{
    if (actions_.quit)
        actions_.quit();
}

void HostMenu::sendMessage(const PairedDevice& helper)
{
    if (controller_)
        controller_->messenger().compose(helper);
}

void HostMenu::sendPassword(const PairedDevice& helper)
{
    if (controller_)
        controller_->passwords().composer().show(helper);
}

void HostMenu::allowUnattendedAccess(const PairedDevice& helper)
{
    if (controller_)
        controller_->pairedHelpers().allowUnattendedAccess(helper);
}

void HostMenu::turnOffUnattendedAccess(const PairedDevice& helper)
{
    if (controller_)
        controller_->pairedHelpers().turnOffUnattendedAccess(helper);
}

void HostMenu::removeHelper(const PairedDevice& helper)
{
    if (controller_)
        controller_->pairedHelpers().removeHelper(helper);
}

void HostMenu::replyToMessage(const StoredMessage& message)
{
    if (controller_)
        controller_->pairedHelpers().composeMessage(message);
}

} // namespace wl
