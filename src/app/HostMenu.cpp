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
#include "style/Widgets.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

namespace wl {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// Text from another machine on one line, whole: the menu cuts it to its width.
std::string line(const std::optional<std::string>& text)
{
    return shownText(text.value_or(""), kShownNoteLength);
}

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
    QMenu& menu = *menu_;
    menu.setTitle(QStringLiteral("Wickerlane"));

    // 1–3: where this computer stands.
    status_ = addText(menu);
    addButton(menu, "Open Wickerlane\u2026", [this] { openMainWindow(); });
    fixScreenRecording_ = addButton(menu, "\u26A0\uFE0E Screen Recording is off: helpers can't see this Mac. Fix\u2026",
                                    [this] { openScreenRecordingSettings(); });
    fixAccessibility_ = addButton(menu, "Accessibility is off: helpers can guide but not take over. Fix\u2026",
                                  [this] { openAccessibilitySettings(); });
    menu.addSeparator();

    // 5: the help request.
    requestLatest_ = addButton(menu, "", [this] { askForHelp(); });
    requestAsked_ = addText(menu);
    cancelRequest_ = addButton(menu, "Cancel Help Request", [this] { cancelHelpRequest(); });
    askForHelp_ = addButton(menu, "Ask for Help\u2026", [this] { askForHelp(); });
    menu.addSeparator();

    // 7–8: accepting help requests, the session.
    turnOff_ = addButton(menu, "Turn Off Help Requests", [this] { turnOffHelpRequests(); });
    turnOn_ = addButton(menu, "Turn On Help Requests", [this] { turnOnHelpRequests(); });
    stopSession_ = addButton(menu, "Stop Session", [this] { stopSession(); });
    menu.addSeparator();

    // 10–13: helpers (their submenus go before the passwords), passwords, messages.
    pairNewHelper_ = addButton(menu, "Pair a New Helper\u2026", [this] { pairNewHelper(); });
    noHelpers_ = addText(menu);
    noHelpers_->setText(menuText("No helpers paired yet"));
    helpersTitle_ = addText(menu);
    helpersTitle_->setText(menuText("Helpers who can ask"));
    passwords_ = addButton(menu, "", [this] { showPasswords(); });
    messages_ = new QMenu(QStringLiteral("Messages"), &menu);
    menu.addMenu(messages_);
    for (std::size_t i = 0; i < kMessageRows; ++i) {
        MessageRow& row = messageRows_.emplace_back();
        const std::size_t index = messageRows_.size() - 1;
        row.action = addButton(*messages_, "", [this, index] {
            const StoredMessage message = messageRows_[index].message;
            if (message.content.kind == MailContent::Kind::password)
                showPasswords();
            else if (!message.outgoing)
                replyToMessage(message);
        });
    }
    menu.addSeparator();

    // 15–19: the program.
    openAtLogin_ = addButton(menu, "", [this] { toggleOpenAtLogin(); });
    addButton(menu, "Show Session History", [this] { showSessionHistory(); });
    menu.addSeparator();
    checkForUpdates_ = addButton(menu, "Check for Updates\u2026", [this] { checkForUpdates(); });
    addButton(menu, "Quit Wickerlane", [this] { quit(); });

    connect(&controller, &HostController::changed, this, &HostMenu::scheduleRefresh);
    connect(&messenger, &Messenger::changed, this, &HostMenu::scheduleRefresh);
    connect(&helpRequests, &HelpRequestCenter::changed, this, &HostMenu::scheduleRefresh);
    connect(controller.services().myMacs.get(), &MyMacs::changed, this, &HostMenu::scheduleRefresh);
    connect(&controller.passwords(), &PasswordCenter::changed, this, &HostMenu::scheduleRefresh);
    refresh();
}

HostMenu::~HostMenu() = default;

QString HostMenu::menuText(const std::string& text)
{
    return QString::fromStdString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void HostMenu::scheduleRefresh()
{
    if (refreshQueued_)
        return;
    refreshQueued_ = true;
    QPointer<HostMenu> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->refreshQueued_)
            self->refresh();
    });
}

QAction* HostMenu::addText(QMenu& menu)
{
    QAction* action = menu.addAction(QString());
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

void HostMenu::refresh()
{
    refreshQueued_ = false;
    if (!controller_ || !messenger_ || !helpRequests_)
        return;
    HostController& host = *controller_;
    HelpRequestCenter& requests = *helpRequests_;

    // 1–3: where this computer stands.
    setMenuItemText(*menu_, *status_, q(host.statusLine()));
    fixScreenRecording_->setVisible(!host.canRecordScreen());
    fixAccessibility_->setVisible(host.canRecordScreen() && !host.canControl());

    // 5: the help request.
    const auto& active = requests.active();
    if (active) {
        // The whole reply is in the ask-for-help window this item opens, and in its tool tip.
        const auto replies = requests.replies();
        if (replies.empty()) {
            setMenuItemText(*menu_, *requestLatest_,
                            q("Help requested \u00B7 waiting for " + requests.helperNamesText()));
        } else {
            const auto& reply = replies.back();
            setMenuItemText(*menu_, *requestLatest_,
                            q(shownName(reply.peerName) + ": \u201C" + line(reply.content.text)),
                            QStringLiteral("\u201D"));
        }
        QString asked = QStringLiteral("Asked ") + shortTime(active->sentAt);
        if (active->topic)
            asked += QStringLiteral(" about ") + q(*active->topic).toLower();
        setMenuItemText(*menu_, *requestAsked_, asked);
    }
    for (QAction* action : {requestLatest_, requestAsked_, cancelRequest_})
        action->setVisible(active.has_value());
    askForHelp_->setVisible(!active);
    askForHelp_->setEnabled(!host.helpers().empty());

    // 7–8: accepting help requests, the session.
    turnOff_->setVisible(host.isListening());
    turnOn_->setVisible(!host.isListening());
    stopSession_->setVisible(host.helperName().has_value());

    // 10–13: helpers, passwords, messages.
    pairNewHelper_->setEnabled(!host.isPairing());
    const auto& helpers = host.helpers();
    noHelpers_->setVisible(helpers.empty());
    helpersTitle_->setVisible(!helpers.empty());
    for (std::size_t i = 0; i < helpers.size(); ++i)
        showHelper(helperMenu(i), helpers[i]);
    for (std::size_t i = helpers.size(); i < helperMenus_.size(); ++i)
        helperMenus_[i]->menu->menuAction()->setVisible(false);
    PasswordCenter& passwords = host.passwords();
    const auto received = passwords.received();
    if (!received.empty())
        passwords_->setText(menuText("Passwords (" + std::to_string(received.size()) + " to copy)\u2026"));
    else
        passwords_->setText(menuText("Passwords\u2026"));
    passwords_->setVisible(!received.empty() || !passwords.sent().empty());
    std::vector<StoredMessage> listed;
    for (const auto& message : messenger_->messages())
        if (listedInMessages(message.content.kind))
            listed.push_back(message);
    messages_->menuAction()->setVisible(!listed.empty());
    const auto newest = newestMessages(listed);
    for (std::size_t i = 0; i < messageRows_.size(); ++i) {
        messageRows_[i].action->setVisible(i < newest.size());
        if (i < newest.size())
            showMessage(messageRows_[i], newest[i]);
    }

    // 15–19: the program.
    openAtLogin_->setText(menuText(host.opensAtLogin() ? "\u2713 Open at Login" : "Open at Login"));
    checkForUpdates_->setVisible(actions_.hasUpdater && actions_.hasUpdater());
    Q_EMIT refreshed();
}

HostMenu::HelperMenu& HostMenu::helperMenu(std::size_t index)
{
    while (helperMenus_.size() <= index) {
        auto made = std::make_unique<HelperMenu>();
        HelperMenu& m = *made;
        m.menu = new QMenu(menu_.get());
        menu_->insertMenu(passwords_, m.menu);
        QMenu& submenu = *m.menu;
        // Each item acts on the record the submenu shows now.
        m.paired = addText(submenu);
        addButton(submenu, "Send a Message\u2026", [this, &m] { sendMessage(m.helper); });
        addButton(submenu, "Send a Password\u2026", [this, &m] { sendPassword(m.helper); });
        submenu.addSeparator();
        m.allow = addButton(submenu, "Allow Unattended Access\u2026", [this, &m] { allowUnattendedAccess(m.helper); });
        m.locked = addText(submenu);
        m.reenable =
            addButton(submenu, "Re-enable Unattended Access\u2026", [this, &m] { allowUnattendedAccess(m.helper); });
        m.withoutAsking = addText(submenu);
        m.turnOff = addButton(submenu, "Turn Off Unattended Access", [this, &m] { turnOffUnattendedAccess(m.helper); });
        submenu.addSeparator();
        m.mine =
            addButton(submenu, "One of your Macs: change in the Wickerlane window\u2026", [this] { openMainWindow(); });
        m.remove = addButton(submenu, "", [this, &m] { removeHelper(m.helper); });
        helperMenus_.push_back(std::move(made));
    }
    return *helperMenus_[index];
}

void HostMenu::showHelper(HelperMenu& m, const PairedDevice& helper)
{
    m.helper = helper;
    const bool mine = controller_ && controller_->services().myMacs->isMine(helper.id);
    std::string marks;
    if (mine)
        marks += " \u00B7 my Mac";
    if (helper.unattended)
        marks += " \u00B7 unattended";
    setMenuItemText(*menu_, *m.menu->menuAction(), q(shownName(helper.name)), q(marks));
    m.menu->setObjectName(QString::fromStdString(helper.id));
    m.menu->menuAction()->setVisible(true);

    m.paired->setText(menuText("Paired " + abbreviatedDate(helper.pairedAt).toStdString()));
    const bool locked = helper.unattended && helper.unattended->failedAttempts >= PairedHelpers::kMaxWrongPINs;
    m.allow->setVisible(!helper.unattended);
    m.locked->setVisible(locked);
    m.reenable->setVisible(locked);
    m.withoutAsking->setVisible(helper.unattended && !locked);
    m.turnOff->setVisible(helper.unattended.has_value());
    if (locked)
        m.locked->setText(menuText("Unattended access locked after " +
                                   std::to_string(helper.unattended->failedAttempts) + " wrong PINs"));
    else if (helper.unattended)
        m.withoutAsking->setText(
            menuText(std::string("Can connect without asking") + (helper.unattended->pinKey ? " (with PIN)" : "")));
    m.mine->setVisible(mine);
    m.remove->setVisible(!mine);
    setMenuItemText(*m.menu, *m.remove, q("Remove " + shownName(helper.name)));
}

std::vector<StoredMessage> HostMenu::newestMessages(const std::vector<StoredMessage>& messages)
{
    std::vector<StoredMessage> newest;
    const std::size_t first = messages.size() > kMessageRows ? messages.size() - kMessageRows : 0;
    for (std::size_t i = messages.size(); i > first; --i)
        newest.push_back(messages[i - 1]);
    return newest;
}

void HostMenu::showMessage(MessageRow& row, const StoredMessage& message)
{
    row.message = message;
    const auto& content = message.content;
    // A cut row says the rest in its tool tip; "Reply…" shows the message whole in its
    // question, and the Passwords window the password's label.
    if (content.kind == MailContent::Kind::password) {
        const std::string name = shownName(message.peerName);
        const std::string who = message.outgoing ? "To " + name : name;
        setMenuItemText(
            *messages_, *row.action,
            q(who + ": a password for " + shownText(content.label.value_or("something"), kShownTopicLength)));
        row.action->setEnabled(true);
        return;
    }
    if (message.outgoing) {
        setMenuItemText(
            *messages_, *row.action,
            q("To " + shownName(message.peerName) + ": " + line(content.text ? content.text : content.topic)));
        row.action->setEnabled(false);
        return;
    }
    setMenuItemText(*messages_, *row.action, q(shownName(message.peerName) + ": " + line(content.text)),
                    QStringLiteral(" \u00B7 Reply\u2026"));
    row.action->setEnabled(true);
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
