#include "app/people/PeopleView.h"

#include "platform/Required.h"

#include "app/DateText.h"
#include "app/PictureWindow.h"
#include "style/Palette.h"
#include "app/people/HelpRequestAnswers.h"
#include "app/people/MessagesCard.h"
#include "app/people/PasswordsRow.h"
#include "style/Widgets.h"
#include "app/people/PicturesSheet.h"
#include "mail/AppServices.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PasswordCenter.h"
#include "platform/Prompts.h"
#include "viewer/PairingSheet.h"
#include "viewer/ViewerController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>

namespace wl {

namespace {

constexpr std::size_t kRecentMessages = 5;

// Whether a card showing these rows shows those: the ages aside, which the card's age
// labels move on by themselves.
bool sameRowsButAges(const std::vector<MessageRowModel>& shown, const std::vector<MessageRowModel>& rows)
{
    return std::equal(shown.begin(), shown.end(), rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.message == b.message && a.correspondent == b.correspondent && a.text == b.text &&
            a.canReply == b.canReply;
    });
}

} // namespace

std::string relativeAge(Date date, Date now)
{
    const double seconds = now - date;
    if (seconds < 60)
        return "just now";
    if (seconds < 3600)
        return std::to_string(static_cast<long long>(seconds / 60)) + " min ago";
    if (seconds < 86400)
        return std::to_string(static_cast<long long>(seconds / 3600)) + " h ago";
    return (abbreviatedDate(date) + QStringLiteral(", ") + shortTime(date)).toStdString();
}

std::string askingBannerText(int people)
{
    return std::to_string(people) + " people are asking for help";
}

PeopleLayout peopleLayout(const std::vector<std::pair<std::string, std::vector<PairedDevice>>>& groups,
                          const std::vector<StoredMessage>& openRequests, bool noDevices, std::size_t receivedPasswords,
                          std::size_t sentPasswords, const std::vector<StoredMessage>& messages)
{
    PeopleLayout layout;
    layout.emptyNote = noDevices;

    struct Placed {
        PersonGroup group;
        Date latest = 0;
    };
    std::vector<Placed> asking, quiet;
    for (const auto& [name, devices] : groups) {
        Placed placed;
        placed.group.name = name;
        placed.group.devices = devices;
        for (const auto& request : openRequests) {
            const bool belongs = std::any_of(devices.begin(), devices.end(),
                                             [&](const PairedDevice& d) { return d.id == request.peerId; });
            if (!belongs)
                continue;
            if (placed.group.requests.empty() || request.at > placed.latest)
                placed.latest = request.at;
            placed.group.requests.push_back(request);
        }
        (placed.group.requests.empty() ? quiet : asking).push_back(std::move(placed));
    }
    std::stable_sort(asking.begin(), asking.end(),
                     [](const Placed& a, const Placed& b) { return a.latest > b.latest; });
    for (auto& placed : asking)
        layout.cards.push_back(std::move(placed.group));
    for (auto& placed : quiet)
        layout.cards.push_back(std::move(placed.group));
    layout.askingCount = static_cast<int>(asking.size());
    layout.banner = layout.askingCount >= 2;

    layout.passwordsRow = receivedPasswords > 0 || sentPasswords > 0;
    layout.receivedPasswords = receivedPasswords;

    std::vector<StoredMessage> plain;
    for (const auto& message : messages)
        if (message.content.kind == MailContent::Kind::message)
            plain.push_back(message);
    const std::size_t skip = plain.size() > kRecentMessages ? plain.size() - kRecentMessages : 0;
    layout.recentMessages.assign(plain.begin() + static_cast<std::ptrdiff_t>(skip), plain.end());
    return layout;
}

PeopleView::PeopleView(ViewerController& controller, HelpRequestAnswers& answers, Options options, QWidget* parent)
    : QWidget(parent), controller_(controller), answers_(answers), options_(std::move(options))
{
    required(options_.prompts, "PeopleView", "prompts");
    options_.timers = requiredTimers(std::move(options_.timers), "PeopleView");
    setObjectName(QStringLiteral("peopleView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("peopleScroll"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = scroll_->palette();
    palette.setColor(QPalette::Window, peopleBackground());
    palette.setColor(QPalette::Base, peopleBackground());
    scroll_->setPalette(palette);
    scroll_->setAutoFillBackground(true);
    scroll_->viewport()->setPalette(palette);
    scroll_->viewport()->setAutoFillBackground(true);
    outer->addWidget(scroll_);

    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("peoplePage"));
    page->setAutoFillBackground(false);
    auto* centring = new QHBoxLayout(page);
    centring->setContentsMargins(0, 0, 0, 0);
    centring->addStretch(1);
    column_ = new QWidget(page);
    column_->setObjectName(QStringLiteral("peopleColumn"));
    column_->setMaximumWidth(kColumnWidth + 32);
    column_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    centring->addWidget(column_, 100);
    centring->addStretch(1);
    stack_ = new QVBoxLayout(column_);
    stack_->setContentsMargins(16, 16, 16, 16);
    stack_->setSpacing(12);

    pairButton_ = new QPushButton(QStringLiteral("Pair a Mac\u2026"), column_);
    pairButton_->setObjectName(QStringLiteral("pairButton"));
    pairButton_->setFont(textFont(TextStyle::body));
    // The large control size.
    pairButton_->setMinimumSize(pairButton_->fontMetrics().horizontalAdvance(pairButton_->text()) + 40, 34);
    connect(pairButton_, &QPushButton::clicked, this, &PeopleView::showPairingSheet);
    scroll_->setWidget(page);

    // What the list shows comes from these parts; the session's own changes (its phase,
    // its status line every second) show nothing here.
    connect(&controller_.hosts(), &PairedHosts::changed, this, &PeopleView::modelChanged);
    connect(&controller_.answers(), &RequestAnswers::changed, this, &PeopleView::modelChanged);
    connect(&messenger(), &Messenger::changed, this, &PeopleView::modelChanged);
    connect(&passwords(), &PasswordCenter::changed, this, &PeopleView::modelChanged);
    connect(&myMacs(), &MyMacs::changed, this, &PeopleView::modelChanged);
    QPointer<PeopleView> self(this);
    answers_.onChange = [self] {
        if (self)
            self->modelChanged();
    };
    refresh();
}

PeopleView::~PeopleView()
{
    ageTimer_.reset();
    answers_.onChange = nullptr;
    if (picturesSheet_)
        delete picturesSheet_.data();
}

Messenger& PeopleView::messenger() const
{
    return controller_.messenger();
}

PasswordCenter& PeopleView::passwords() const
{
    return controller_.passwords();
}

MyMacs& PeopleView::myMacs() const
{
    return *controller_.services().myMacs;
}

Prompts& PeopleView::prompts() const
{
    return *options_.prompts;
}

Date PeopleView::now() const
{
    return options_.clock ? options_.clock() : dateNow();
}

void PeopleView::openPicture(const TransferredFile& file, const QString& title, QSize shownAt) const
{
    if (options_.openPicture)
        options_.openPicture(file, title, shownAt);
    else
        PictureWindowController::show(file, title, prompts(), shownAt);
}

void PeopleView::showAge(QLabel* label, std::string prefix, Date date, std::string suffix)
{
    if (!label)
        return;
    label->setText(QString::fromStdString(prefix + relativeAge(date, now()) + suffix));
    for (auto& age : ages_)
        if (age.label == label) {
            age = {label, std::move(prefix), date, std::move(suffix)};
            return;
        }
    ages_.push_back({label, std::move(prefix), date, std::move(suffix)});
}

void PeopleView::stopAge(QLabel* label)
{
    std::erase_if(ages_, [label](const AgeText& age) { return age.label == label; });
}

void PeopleView::updateAges()
{
    if (offScreen()) {
        // Shown again, the list catches up at once.
        stale_ = true;
        return;
    }
    const Date now = this->now();
    std::erase_if(ages_, [](const AgeText& age) { return !age.label; });
    for (const auto& age : ages_)
        age.label->setText(QString::fromStdString(age.prefix + relativeAge(age.date, now) + age.suffix));
    scheduleAges();
}

void PeopleView::scheduleAges()
{
    // The next moment one of the ages reads differently: the next whole minute of an age
    // under an hour, the next whole hour of one under a day; a date stays as it is.
    const Date now = this->now();
    double soonest = -1;
    for (const auto& age : ages_) {
        if (!age.label)
            continue;
        const double seconds = now - age.date;
        double next = -1;
        if (seconds < 60)
            next = 60 - std::max(seconds, 0.0);
        else if (seconds < 3600)
            next = 60 - std::fmod(seconds, 60);
        else if (seconds < 86400)
            next = 3600 - std::fmod(seconds, 3600);
        if (next >= 0 && (soonest < 0 || next < soonest))
            soonest = next;
    }
    ageTimer_.reset();
    if (soonest < 0)
        return;
    const auto delay = std::chrono::milliseconds(std::max<long long>(1000, std::llround(std::ceil(soonest * 1000))));
    QPointer<PeopleView> self(this);
    ageTimer_ = options_.timers(delay, [self] {
        if (self)
            self->updateAges();
    });
}

void PeopleView::setExpanded(const std::string& name, bool expanded)
{
    if (expanded ? !expanded_.insert(name).second : expanded_.erase(name) == 0)
        return;
    PersonCard* before = card(name);
    const int height = before && before->isVisible() ? before->height() : 0;
    refresh();
    // The card opens or closes from the height it had.
    if (PersonCard* after = card(name))
        after->animateHeightFrom(height);
}

void PeopleView::toggleExpanded(const std::string& name)
{
    setExpanded(name, expanded_.count(name) == 0);
}

PersonCard* PeopleView::card(const std::string& name) const
{
    const auto found = cards_.find(name);
    return found != cards_.end() ? found->second.data() : nullptr;
}

bool PeopleView::offScreen() const
{
    // Hidden inside its window (another page of the window is showing); a list that is
    // its own window always keeps up.
    return !isWindow() && !isVisibleTo(window());
}

void PeopleView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (stale_)
        refresh();
}

void PeopleView::modelChanged()
{
    if (offScreen())
        stale_ = true;
    else
        refresh();
}

void PeopleView::refresh()
{
    stale_ = false;
    const Date now = this->now();
    const auto openRequests = messenger().openHelpRequests(controller_.answers().resolvedRequests(), now);
    layout_ = peopleLayout(controller_.hosts().groupDevices(), openRequests, controller_.hosts().devices().empty(),
                           passwords().received().size(), passwords().sent().size(), messenger().messages());

    // What each part shows; a part shows a change in the widgets it has.
    std::vector<QWidget*> order;
    if (layout_.emptyNote && !emptyNote_) {
        emptyNote_ = new RoundedPanel(cardFill(), 16, column_);
        emptyNote_->setObjectName(QStringLiteral("emptyNote"));
        auto* noteLayout = new QVBoxLayout(emptyNote_);
        noteLayout->setContentsMargins(16, 16, 16, 16);
        auto* noteText = plainLabel("No Macs yet. On the Mac you want to help, choose Pair a New Helper\u2026 in the "
                                    "Wickerlane menu, then pair here with the code it shows.",
                                    TextStyle::body, secondaryText(), emptyNote_, true);
        noteText->setObjectName(QStringLiteral("emptyNoteText"));
        noteLayout->addWidget(noteText);
    } else if (!layout_.emptyNote && emptyNote_) {
        discardWidget(emptyNote_);
        emptyNote_ = nullptr;
    }
    if (emptyNote_)
        order.push_back(emptyNote_);
    if (layout_.banner && !banner_) {
        banner_ = new QWidget(column_);
        banner_->setObjectName(QStringLiteral("askingBanner"));
        auto* bannerRow = new QHBoxLayout(banner_);
        bannerRow->setContentsMargins(0, 0, 0, 0);
        bannerRow->setSpacing(6);
        bannerRow->addWidget(new SymbolView(Symbol::handRaised, askingAccent(), 16, banner_), 0, Qt::AlignVCenter);
        bannerText_ = plainLabel({}, TextStyle::callout, askingAccent(), banner_, false, QFont::Bold);
        bannerText_->setObjectName(QStringLiteral("askingBannerText"));
        bannerRow->addWidget(bannerText_, 1, Qt::AlignVCenter);
    } else if (!layout_.banner && banner_) {
        discardWidget(banner_);
        banner_ = nullptr;
    }
    if (banner_) {
        bannerText_->setText(QString::fromStdString(askingBannerText(layout_.askingCount)));
        order.push_back(banner_);
    }

    // A card per person, kept by name.
    const auto& myMacs = this->myMacs();
    std::map<std::string, QPointer<PersonCard>> gone;
    gone.swap(cards_);
    for (const auto& group : layout_.cards) {
        PersonCardScene scene;
        scene.card = personCardModel(group, controller_.hosts().onlineIDs(), expanded_.count(group.name) > 0, now);
        if (scene.card.request) {
            const StoredMessage& request = *scene.card.request;
            std::vector<std::pair<StoredMessage, SentPasswordState>> sent;
            for (const auto& password : passwords().sentTo(request.id))
                sent.emplace_back(password, passwords().status(password, now));
            scene.block = requestBlockModel(request, group.devices, answers_.sentReplies(request), sent,
                                            answers_.fetchingPictures().count(request.id) > 0);
        }
        for (const auto& row : scene.card.rows) {
            const std::string& id = row.device.id;
            scene.lines.push_back(deviceLineModel(row.device, row.request,
                                                  controller_.hosts().onlineIDs().count(id) > 0,
                                                  controller_.hosts().knownUnattended().count(id) > 0,
                                                  controller_.hosts().notifyWhenOnline().count(id) > 0,
                                                  myMacs.asking().count(id) > 0, myMacs.isMine(id), now));
        }
        QPointer<PersonCard> card;
        if (auto found = gone.find(group.name); found != gone.end() && found->second) {
            card = found->second;
            gone.erase(found);
            card->setScene(std::move(scene));
        } else {
            card = new PersonCard(*this, std::move(scene), column_);
        }
        cards_[group.name] = card;
        order.push_back(card);
    }
    // A button of a card that goes may be what started this: it goes once control is
    // back in the event loop.
    for (auto& [name, card] : gone)
        discardWidget(card);

    if (passwordsRow_ && (!layout_.passwordsRow || shownPasswords_ != layout_.receivedPasswords)) {
        discardWidget(passwordsRow_);
        passwordsRow_ = nullptr;
    }
    if (layout_.passwordsRow && !passwordsRow_) {
        passwordsRow_ = new PasswordsRow(passwords(), layout_.receivedPasswords, column_);
        shownPasswords_ = layout_.receivedPasswords;
    }
    if (passwordsRow_)
        order.push_back(passwordsRow_);

    auto messages = messagesCardModel(layout_.recentMessages, now);
    if (messagesCard_ && (layout_.recentMessages.empty() || !sameRowsButAges(messagesCard_->rows(), messages))) {
        discardWidget(messagesCard_);
        messagesCard_ = nullptr;
    }
    if (!layout_.recentMessages.empty() && !messagesCard_)
        messagesCard_ = new MessagesCard(*this, std::move(messages), column_);
    if (messagesCard_)
        order.push_back(messagesCard_);

    // The column is laid out again only when its parts or their order changed.
    if (order != shownOrder_ || stack_->count() == 0) {
        while (QLayoutItem* item = stack_->takeAt(0))
            delete item;
        for (QWidget* part : order)
            stack_->addWidget(part);
        stack_->addSpacing(4);
        stack_->addWidget(pairButton_, 0, Qt::AlignHCenter);
        stack_->addStretch(1);
        // Parts made while the list shows appear at once; their order as children is their
        // order on screen.
        for (QWidget* part : order) {
            part->show();
            part->raise();
        }
        shownOrder_ = std::move(order);
    }
    scheduleAges();
    syncPicturesSheet();
}

void PeopleView::showPairingSheet()
{
    if (pairingSheet_)
        return;
    pairingSheet_ = new PairingSheet(controller_, this);
    pairingSheet_->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ViewerController> controller(&controller_);
    // However the sheet goes away, a pairing still waiting ends with it.
    connect(pairingSheet_, &QDialog::finished, this, [controller] {
        if (controller)
            controller->hosts().cancelPairing();
    });
    pairingSheet_->open();
}

void PeopleView::syncPicturesSheet()
{
    const auto& shown = answers_.picturesShown();
    if (picturesSheet_ && (!shown || shown->id != picturesSheet_->request().id)) {
        PicturesSheet* sheet = picturesSheet_;
        picturesSheet_ = nullptr;
        sheet->hide();
        sheet->deleteLater();
    }
    if (!shown || picturesSheet_)
        return;
    std::vector<TransferredFile> files;
    if (auto found = answers_.pictures().find(shown->id); found != answers_.pictures().end())
        files = found->second;
    QPointer<PeopleView> self(this);
    PicturesSheet::Options sheetOptions;
    sheetOptions.prompts = options_.prompts;
    sheetOptions.openPicture = [self](const TransferredFile& file, const QString& title, QSize shownAt) {
        if (self)
            self->openPicture(file, title, shownAt);
    };
    picturesSheet_ = new PicturesSheet(
        *shown, std::move(files),
        [self] {
            if (self)
                self->answers().setPicturesShown(std::nullopt);
        },
        std::move(sheetOptions), this);
    picturesSheet_->open();
}

} // namespace wl
