// The people list's models as tables of fixtures: the order of people and the banner,
// ages, person cards, the request block with its password status, device lines per
// presence and phase, the passwords row, the messages card and the pictures sheet's
// texts. No widgets, no network.
#include "PeopleTestKit.h"

#include "app/DateText.h"
#include "app/PictureWindow.h"
#include "app/people/DeviceLine.h"
#include "app/people/MessagesCard.h"
#include "app/people/PasswordsRow.h"
#include "app/people/PersonCard.h"
#include "app/people/PicturesSheet.h"
#include "app/people/RequestBlock.h"

#include <gtest/gtest.h>

namespace wl {
namespace {

using test::helpRequest;
using test::host;
using test::mail;
using K = MailContent::Kind;
using Groups = std::vector<std::pair<std::string, std::vector<PairedDevice>>>;

constexpr Date kNow = 800000000;

std::vector<std::string> names(const PeopleLayout& layout)
{
    std::vector<std::string> out;
    for (const auto& card : layout.cards)
        out.push_back(card.name);
    return out;
}

TEST(PeopleLayout, OrdersPeopleAskingFirstByTheirNewestRequestAndCountsThemForTheBanner)
{
    const auto mom = host("Mom's iMac"), momLaptop = host("Mom's laptop"), work = host("Work"), zed = host("Zed");
    const auto mine = host("Study");
    const Groups groups{{"My Macs", {mine}}, {"Mom", {mom, momLaptop}}, {"Work", {work}}, {"Zed", {zed}}};
    // Newest first, as the messenger gives them.
    const auto zedAsks = helpRequest("z", zed, kNow - 60);
    const auto momOld = helpRequest("m1", mom, kNow - 600);
    const auto momNew = helpRequest("m2", momLaptop, kNow - 30);
    const auto mineAsks = helpRequest("s", mine, kNow - 60);

    struct Case {
        const char* what;
        std::vector<StoredMessage> open;
        std::vector<std::string> order;
        int asking;
        bool banner;
    };
    const std::vector<Case> cases{
        {"no one asks: the controller's order", {}, {"My Macs", "Mom", "Work", "Zed"}, 0, false},
        {"one person asks: first, no banner", {zedAsks}, {"Zed", "My Macs", "Mom", "Work"}, 1, false},
        {"two ask: the newer request first, though its name sorts later",
         {momNew, zedAsks},
         {"Mom", "Zed", "My Macs", "Work"},
         2,
         true},
        {"a person with several requests is placed by the newest",
         {momNew, zedAsks, momOld},
         {"Mom", "Zed", "My Macs", "Work"},
         2,
         true},
        {"the same date keeps the grouping order, My Macs first",
         {zedAsks, mineAsks},
         {"My Macs", "Zed", "Mom", "Work"},
         2,
         true},
        {"three ask", {momNew, zedAsks, mineAsks}, {"Mom", "My Macs", "Zed", "Work"}, 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto layout = peopleLayout(groups, c.open, false, 0, 0, {});
        EXPECT_EQ(names(layout), c.order);
        EXPECT_EQ(layout.askingCount, c.asking);
        EXPECT_EQ(layout.banner, c.banner);
        EXPECT_FALSE(layout.emptyNote);
    }
    const auto layout = peopleLayout(groups, {momNew, zedAsks, momOld}, false, 0, 0, {});
    EXPECT_EQ(layout.cards[0].requests, (std::vector<StoredMessage>{momNew, momOld}));
    EXPECT_EQ(askingBannerText(2), "2 people are asking for help");
}

TEST(PeopleLayout, EmptyNotePasswordsRowAndTheLastFivePlainMessages)
{
    const auto bo = host("Bo");
    std::vector<StoredMessage> history;
    for (int i = 0; i < 7; ++i)
        history.push_back(mail("m" + std::to_string(i), bo, K::message, kNow - 100 + i, i % 2 == 0, "text"));
    history.insert(history.begin() + 3, helpRequest("h", bo, kNow - 50));
    history.push_back(mail("r", bo, K::reply, kNow, false, "a reply"));
    history.push_back(mail("p", bo, K::password, kNow));

    const auto empty = peopleLayout({}, {}, true, 0, 0, {});
    EXPECT_TRUE(empty.emptyNote);
    EXPECT_TRUE(empty.cards.empty());
    EXPECT_FALSE(empty.banner);
    EXPECT_FALSE(empty.passwordsRow);
    EXPECT_TRUE(empty.recentMessages.empty());

    struct Case {
        std::size_t received, sent;
        bool row;
    };
    for (const auto& c : {Case{0, 0, false}, Case{1, 0, true}, Case{0, 2, true}, Case{3, 1, true}}) {
        const auto layout = peopleLayout({}, {}, true, c.received, c.sent, history);
        EXPECT_EQ(layout.passwordsRow, c.row) << c.received << "/" << c.sent;
        EXPECT_EQ(layout.receivedPasswords, c.received);
        // The empty note and the other elements follow their own conditions.
        EXPECT_TRUE(layout.emptyNote);
        std::vector<std::string> ids;
        for (const auto& m : layout.recentMessages)
            ids.push_back(m.id);
        EXPECT_EQ(ids, (std::vector<std::string>{"m2", "m3", "m4", "m5", "m6"}));
    }
    EXPECT_TRUE(peopleLayout({}, {}, false, 0, 0, {helpRequest("h", bo, kNow)}).recentMessages.empty());
}

TEST(PeopleLayout, RelativeAgesAtTheirEdges)
{
    const Date date = kNow - 100000;
    const std::string dated = (abbreviatedDate(date) + ", " + shortTime(date)).toStdString();
    struct Case {
        double seconds;
        std::string text;
    };
    for (const auto& c : std::vector<Case>{{-60, "just now"},
                                           {0, "just now"},
                                           {59.9, "just now"},
                                           {60, "1 min ago"},
                                           {119.9, "1 min ago"},
                                           {3599, "59 min ago"},
                                           {3600, "1 h ago"},
                                           {86399, "23 h ago"}})
        EXPECT_EQ(relativeAge(kNow - c.seconds, kNow), c.text) << c.seconds;
    const Date dayOld = kNow - 86400;
    EXPECT_EQ(relativeAge(dayOld, kNow), (abbreviatedDate(dayOld) + ", " + shortTime(dayOld)).toStdString());
    EXPECT_EQ(relativeAge(date, kNow), dated);
}

TEST(PersonCardModel, HeaderTextsShownMacsAndTheShowMoreButton)
{
    const auto a = host("iMac"), b = host("laptop"), c = host("mini");
    const auto fromB = helpRequest("hb", b, kNow - 300);
    const auto fromC = helpRequest("hc", c, kNow - 30);
    const auto fromGone = helpRequest("hg", host("sold"), kNow - 30);
    const std::set<std::string> onlineB{b.id};

    struct Case {
        const char* what;
        PersonGroup group;
        std::set<std::string> online;
        bool expanded;
        std::string subtitle;
        std::vector<std::string> rows;
        std::optional<std::string> more;
    };
    const std::vector<Case> cases{
        {"quiet, collapsed: the header only",
         {"Ann", {a, b, c}, {}},
         onlineB,
         false,
         "3 devices \u00b7 1 online",
         {},
         std::nullopt},
        {"quiet, expanded: every Mac",
         {"Ann", {a, b, c}, {}},
         {},
         true,
         "3 devices \u00b7 0 online",
         {"iMac", "laptop", "mini"},
         std::nullopt},
        {"one Mac", {"Ann", {a}, {}}, {a.id}, false, "1 device \u00b7 1 online", {}, std::nullopt},
        {"an empty group", {"Ann", {}, {}}, {}, false, "0 devices \u00b7 0 online", {}, std::nullopt},
        {"asking, collapsed: the Mac that asks",
         {"Ann", {a, b, c}, {fromB}},
         {},
         false,
         "Asking \u00b7 5 min ago",
         {"laptop"},
         "Show 2 more devices"},
        {"asking with two Macs",
         {"Ann", {a, b}, {fromB}},
         {},
         false,
         "Asking \u00b7 5 min ago",
         {"laptop"},
         "Show 1 more device"},
        {"asking, expanded",
         {"Ann", {a, b}, {fromB}},
         {},
         true,
         "Asking \u00b7 5 min ago",
         {"iMac", "laptop"},
         "Show less"},
        {"asking with one Mac: never a show-more button",
         {"Ann", {b}, {fromB}},
         {},
         false,
         "Asking \u00b7 5 min ago",
         {"laptop"},
         std::nullopt},
        {"a request from a Mac no longer paired",
         {"Ann", {a, b}, {fromGone}},
         {},
         false,
         "Asking \u00b7 just now",
         {},
         "Show 2 more devices"},
        {"two requests: only the first one's Mac",
         {"Ann", {a, b, c}, {fromC, fromB}},
         {},
         false,
         "Asking \u00b7 just now",
         {"mini"},
         "Show 2 more devices"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto model = personCardModel(c.group, c.online, c.expanded, kNow);
        EXPECT_EQ(model.subtitle, c.subtitle);
        std::vector<std::string> rows;
        for (const auto& row : model.rows)
            rows.push_back(row.device.name);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(model.showMore, c.more);
        EXPECT_EQ(model.accessibilityHint, c.expanded ? "Hides their devices" : "Shows their devices");
        EXPECT_EQ(model.asking(), !c.group.requests.empty());
    }
    // Expanded with two requests: each Mac its own.
    const auto model = personCardModel({"Ann", {a, b, c}, {fromC, fromB}}, {}, true, kNow);
    ASSERT_EQ(model.rows.size(), 3u);
    EXPECT_EQ(model.rows[0].request, std::nullopt);
    EXPECT_EQ(model.rows[1].request, fromB);
    EXPECT_EQ(model.rows[2].request, fromC);

    EXPECT_TRUE(personCardModel({"My Macs", {a}, {}}, {}, false, kNow).avatarIsMyMacs);
    EXPECT_EQ(personCardModel({"ann", {a}, {}}, {}, false, kNow).avatarText, "A");
    EXPECT_EQ(personCardModel({"ann", {a}, {}}, {}, false, kNow).name, "ann");
    EXPECT_EQ(personCardModel({"\u00e9mile", {a}, {}}, {}, false, kNow).avatarText, "\u00c9");
    EXPECT_EQ(personCardModel({"", {a}, {}}, {}, false, kNow).avatarText, "");
}

TEST(RequestBlockModel, TextsPicturesRepliesAndThePasswordStatus)
{
    const auto mom = host("Mom's iMac");
    auto reply = [&](const std::string& id, std::optional<std::string> text) {
        auto m = mail(id, mom, K::reply, kNow, true, std::move(text));
        return m;
    };
    auto password = [&](const std::string& id, std::optional<std::string> label) {
        auto m = mail(id, mom, K::password, kNow, true);
        m.content.label = std::move(label);
        return m;
    };
    using Sent = std::vector<std::pair<StoredMessage, SentPasswordState>>;

    // A bare request: only the action row.
    auto bare = requestBlockModel(helpRequest("h", mom, kNow), {mom}, {}, {}, false);
    EXPECT_EQ(bare.topic, std::nullopt);
    EXPECT_EQ(bare.note, std::nullopt);
    EXPECT_EQ(bare.picturesText, std::nullopt);
    EXPECT_EQ(bare.replied, std::nullopt);
    EXPECT_FALSE(bare.passwordRequest);
    EXPECT_FALSE(bare.opened);
    EXPECT_EQ(bare.doneTooltip, "Clear this request without connecting");

    struct Pictures {
        std::optional<int> count;
        bool fetching;
        std::optional<std::string> text;
    };
    for (const auto& c : std::vector<Pictures>{
             {1, false, "1 picture \u00b7 View"},
             {1, true, "Getting the picture from their Mac\u2026"},
             {2, false, "2 pictures \u00b7 View"},
             {3, true, "Getting the pictures from their Mac\u2026"},
             {0, false, std::nullopt},
             {std::nullopt, true, std::nullopt},
         }) {
        auto model = requestBlockModel(helpRequest("h", mom, kNow, "Printer", "", c.count), {mom}, {}, {}, c.fetching);
        EXPECT_EQ(model.picturesText, c.text);
        EXPECT_EQ(model.fetching, c.fetching);
        EXPECT_EQ(model.note, std::optional<std::string>(""));
    }

    auto replied =
        requestBlockModel(helpRequest("h", mom, kNow), {mom}, {reply("r1", "first"), reply("r2", "second")}, {}, false);
    EXPECT_EQ(replied.replied, std::optional<std::string>("You replied: second"));
    EXPECT_EQ(requestBlockModel(helpRequest("h", mom, kNow), {mom}, {reply("r", std::nullopt)}, {}, false).replied,
              std::optional<std::string>("You replied: "));

    // Only the exact topic asks for a password.
    EXPECT_FALSE(
        requestBlockModel(helpRequest("h", mom, kNow, "A password please"), {mom}, {}, {}, false).passwordRequest);
    auto asks = requestBlockModel(helpRequest("h", mom, kNow, "A password", "the Wi-Fi", 2), {mom}, {}, {}, false);
    EXPECT_TRUE(asks.passwordRequest);
    EXPECT_EQ(asks.statusTitle, "Send it securely");
    EXPECT_EQ(asks.sendTitle, "Send Password Securely");
    EXPECT_EQ(asks.explanation,
              "Encrypted so only Mom's iMac can open it, with Touch ID or their Mac's password. It never shows on a "
              "shared screen and is gone when it expires.");
    EXPECT_TRUE(asks.sent.empty());

    // Not among the card's Macs: the name the request came with.
    auto renamed = mom;
    renamed.name = "Kitchen iMac";
    EXPECT_EQ(requestBlockModel(helpRequest("h", mom, kNow, "A password"), {renamed}, {}, {}, false).askerName,
              "Kitchen iMac");
    EXPECT_EQ(requestBlockModel(helpRequest("h", mom, kNow, "A password"), {host("Other")}, {}, {}, false).askerName,
              "Mom's iMac");

    struct Line {
        SentPasswordState state;
        std::string text;
        bool unsend;
    };
    const std::vector<Line> lines{{SentPasswordState::sent, "the Wi-Fi \u00b7 Sent", true},
                                  {SentPasswordState::delivered, "the Wi-Fi \u00b7 Delivered", true},
                                  {SentPasswordState::opened, "the Wi-Fi \u00b7 Opened", false},
                                  {SentPasswordState::unsent, "the Wi-Fi \u00b7 Unsent", false},
                                  {SentPasswordState::expired, "the Wi-Fi \u00b7 Expired", false}};
    for (const auto& line : lines) {
        auto model = requestBlockModel(helpRequest("h", mom, kNow, "A password"), {mom}, {},
                                       Sent{{password("p", "the Wi-Fi"), line.state}}, false);
        ASSERT_EQ(model.sent.size(), 1u);
        EXPECT_EQ(model.sent[0].text, line.text);
        EXPECT_EQ(model.sent[0].canUnsend, line.unsend);
        EXPECT_EQ(model.statusTitle, "Sent securely");
        EXPECT_EQ(model.sendTitle, "Send Another");
        const bool opened = line.state == SentPasswordState::opened;
        EXPECT_EQ(model.opened, opened);
        EXPECT_EQ(model.doneTooltip,
                  opened ? "They've opened the password; clear this request" : "Clear this request without connecting");
    }
    auto several = requestBlockModel(helpRequest("h", mom, kNow, "A password"), {mom}, {},
                                     Sent{{password("p1", std::nullopt), SentPasswordState::unsent},
                                          {password("p2", "x"), SentPasswordState::opened},
                                          {password("p3", "y"), SentPasswordState::sent}},
                                     false);
    EXPECT_TRUE(several.opened);
    EXPECT_EQ(several.sent[0].text, "Password \u00b7 Unsent");
    EXPECT_EQ(quickReplies(), (std::vector<std::string>{"In 10 minutes", "On my way", "Later today", "Call me"}));
}

TEST(DeviceLineModel, StatusAndActionsPerPresenceAndPhase)
{
    const auto mac = host("Mom's iMac");
    const auto fresh = helpRequest("h", mac, kNow - 20);
    const auto older = helpRequest("h", mac, kNow - 300);
    using P = DeviceLineModel::Primary;
    using T = DeviceLineModel::Tone;
    struct Case {
        const char* what;
        std::optional<StoredMessage> request;
        bool online, unattended, notify, waiting, mine;
        std::string status;
        T tone;
        P primary;
        std::string title, tooltip;
    };
    const std::vector<Case> cases{
        {"offline asking", older, false, false, false, false, false,
         "Asking for help \u00b7 5 min ago \u00b7 now offline", T::asking, P::notifyMe, "Notify Me",
         "Get a notification when it comes online"},
        {"offline asking, watched", older, false, true, true, false, false,
         "Asking for help \u00b7 5 min ago \u00b7 now offline", T::asking, P::willNotify, "Will Notify",
         "You'll get a notification when it comes online. Click to stop."},
        {"online asking, unattended known: still Help Now", fresh, true, true, false, false, false,
         "Asking for help \u00b7 just now", T::asking, P::helpNow, "Help Now", ""},
        {"online waiting to join My Macs", std::nullopt, true, false, false, true, false,
         "Waiting for a yes to join My Macs", T::online, P::askToHelp, "Ask to Help",
         "They choose whether you guide or take over"},
        {"online unattended", std::nullopt, true, true, false, false, false, "Online \u00b7 unattended", T::online,
         P::connect, "Connect", "Straight in, after Touch ID (and the PIN if one is set)"},
        {"online", std::nullopt, true, false, false, false, true, "Online", T::online, P::askToHelp, "Ask to Help",
         "They choose whether you guide or take over"},
        {"offline", std::nullopt, false, true, false, false, false, "Offline", T::offline, P::notifyMe, "Notify Me",
         "Get a notification when it comes online"},
        {"offline watched", std::nullopt, false, false, true, false, false, "Offline", T::offline, P::willNotify,
         "Will Notify", "You'll get a notification when it comes online. Click to stop."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto model = deviceLineModel(mac, c.request, c.online, c.unattended, c.notify, c.waiting, c.mine, kNow);
        EXPECT_EQ(model.statusText, c.status);
        EXPECT_EQ(model.tone, c.tone);
        EXPECT_EQ(model.dotFilled, c.online);
        EXPECT_EQ(model.primary, c.primary);
        EXPECT_EQ(model.primaryTitle, c.title);
        EXPECT_EQ(model.primaryTooltip, c.tooltip);
        EXPECT_EQ(model.primaryIsPill, c.online);
    }

    auto titles = [](const DeviceLineModel& model) {
        std::vector<std::string> out;
        for (const auto& item : model.menu)
            out.push_back(item.title.empty() ? "--" : item.title + (item.enabled ? "" : " (off)"));
        return out;
    };
    EXPECT_EQ(titles(deviceLineModel(mac, std::nullopt, false, false, false, false, false, kNow)),
              (std::vector<std::string>{"Send a Message\u2026", "Send a Password\u2026", "Set Person\u2026",
                                        "Add to My Macs\u2026", "--", "Remove"}));
    EXPECT_EQ(titles(deviceLineModel(mac, std::nullopt, true, false, false, true, false, kNow)),
              (std::vector<std::string>{"Send a Message\u2026", "Send a Password\u2026", "Set Person\u2026",
                                        "Add to My Macs\u2026 (off)", "Ask to Help", "Connect Without Asking", "--",
                                        "Remove"}));
    EXPECT_EQ(titles(deviceLineModel(mac, std::nullopt, true, true, false, false, true, kNow)),
              (std::vector<std::string>{"Send a Message\u2026", "Send a Password\u2026", "Remove from My Macs\u2026",
                                        "Ask to Help", "Connect Without Asking", "--", "Remove"}));
    EXPECT_TRUE(deviceLineModel(mac, std::nullopt, true, true, false, false, true, kNow).menu.back().destructive);
}

TEST(PeopleCards, PasswordsRowMessagesCardAndPicturesSheetTexts)
{
    EXPECT_EQ(passwordsRowText(0), "Passwords you sent");
    EXPECT_EQ(passwordsRowText(1), "1 password to copy");
    EXPECT_EQ(passwordsRowText(3), "3 passwords to copy");

    const auto bo = host("Bo");
    auto rows = messagesCardModel({mail("a", bo, K::message, kNow - 120, true, "Yes, all good"),
                                   mail("b", bo, K::message, kNow - 10, false, std::nullopt)},
                                  kNow);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].correspondent, "To Bo");
    EXPECT_EQ(rows[0].text, "Yes, all good");
    EXPECT_EQ(rows[0].age, "2 min ago");
    EXPECT_FALSE(rows[0].canReply);
    EXPECT_EQ(rows[1].correspondent, "Bo");
    EXPECT_EQ(rows[1].text, "");
    EXPECT_EQ(rows[1].age, "just now");
    EXPECT_TRUE(rows[1].canReply);
    EXPECT_TRUE(messagesCardModel({}, kNow).empty());

    struct Subtitle {
        std::optional<std::string> topic, note;
        std::string text;
    };
    for (const auto& c : std::vector<Subtitle>{{"Printer", "It's offline", "Printer \u00b7 \u201cIt's offline\u201d"},
                                               {"Printer", std::nullopt, "Printer"},
                                               {std::nullopt, "It's offline", "\u201cIt's offline\u201d"},
                                               {std::nullopt, std::nullopt, ""}})
        EXPECT_EQ(picturesSheetSubtitle(helpRequest("h", bo, kNow, c.topic, c.note)), c.text);
    EXPECT_EQ(pictureWindowTitle(helpRequest("h", bo, kNow), TransferredFile{"1", "Screenshot 9.41", "", ""}),
              QStringLiteral("Bo \u00b7 Screenshot 9.41"));
}

TEST(PeopleCards, TheProposedFileNameIsMadeSafeBeforeTheSaveDialogSeesIt)
{
    struct Case {
        std::string name, proposed;
    };
    for (const auto& c : std::vector<Case>{
             {"Screenshot 9.41", "Screenshot 9.41.jpg"},
             {"photo.jpg", "photo.jpg.jpg"},
             {"../../.ssh/authorized_keys", "sshauthorized_keys.jpg"},
             {".hidden", "hidden.jpg"},
             {std::string("a\0b", 3), "ab.jpg"},
             {"line\nbreak\ttab\x1b[31m", "linebreaktab[31m.jpg"},
             {"/", "Picture.jpg"},
             {"", "Picture.jpg"},
         })
        EXPECT_EQ(proposedPictureFileName(c.name), c.proposed) << c.name;
    const std::string longName(400, 'x');
    EXPECT_EQ(proposedPictureFileName(longName), std::string(200, 'x') + ".jpg");
    // Cut between characters, never inside one.
    std::string accents;
    for (int i = 0; i < 150; ++i)
        accents += "\u00e9";
    const auto cut = proposedPictureFileName(accents);
    EXPECT_EQ(cut, std::string(accents, 0, 200) + ".jpg");
    EXPECT_TRUE(QString::fromStdString(cut).toStdString() == cut);
}

} // namespace
} // namespace wl
