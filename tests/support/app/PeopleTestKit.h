#pragma once
// The helper's list of people under test: the real viewer controller, messenger,
// password centre and My Macs (ViewerTestKit.h), a history given by the test, a fixed
// clock, and answers to help requests that record what they are asked to do.
#include "ViewerTestKit.h"

#include "app/people/HelpRequestAnswers.h"
#include "app/people/PeopleView.h"
#include "identity/Keys.h"
#include "mail/MyMacs.h"
#include "protocol/Roster.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace wl::test {

class RecordingAnswers final : public HelpRequestAnswers {
public:
    const std::map<std::string, std::vector<TransferredFile>>& pictures() const override { return pictures_; }
    const std::set<std::string>& fetchingPictures() const override { return fetching; }
    const std::optional<StoredMessage>& picturesShown() const override { return shown; }
    void setPicturesShown(std::optional<StoredMessage> request) override
    {
        calls.push_back(request ? "setPicturesShown " + request->id : "setPicturesShown none");
        shown = std::move(request);
        changed();
    }
    std::vector<StoredMessage> sentReplies(const StoredMessage& request) const override
    {
        auto found = replies.find(request.id);
        return found == replies.end() ? std::vector<StoredMessage>{} : found->second;
    }
    void sendReply(const StoredMessage& request, const std::string& text) override
    {
        calls.push_back("sendReply " + request.id + " " + text);
    }
    void markRequestDone(const StoredMessage& request) override { calls.push_back("markRequestDone " + request.id); }
    void sendPassword(const StoredMessage& request) override { calls.push_back("sendPassword " + request.id); }
    void composeReply(const StoredMessage& message) override { calls.push_back("composeReply " + message.id); }
    void showPictures(const StoredMessage& request) override
    {
        calls.push_back("showPictures " + request.id);
        if (pictures_.count(request.id))
            setPicturesShown(request);
    }

    void setPictures(const std::string& id, std::vector<TransferredFile> files)
    {
        pictures_[id] = std::move(files);
        changed();
    }
    void changed()
    {
        if (auto notify = onChange)
            notify();
    }

    std::set<std::string> fetching;
    std::optional<StoredMessage> shown;
    std::map<std::string, std::vector<StoredMessage>> replies;
    std::vector<std::string> calls;

private:
    std::map<std::string, std::vector<TransferredFile>> pictures_;
};

inline PairedDevice host(const std::string& name, std::optional<std::string> person = std::nullopt)
{
    auto key = SigningKey::generate();
    PairedDevice device{fingerprintOfRaw(key.publicKeyRaw()),
                        name,
                        key.publicKeyBase64(),
                        dateNow() - 86400 * 30,
                        std::nullopt,
                        std::move(person)};
    return device;
}

inline StoredMessage mail(const std::string& id, const PairedDevice& peer, MailContent::Kind kind, Date at,
                          bool outgoing = false, std::optional<std::string> text = std::nullopt)
{
    StoredMessage m;
    m.id = id;
    m.peerId = peer.id;
    m.peerName = peer.name;
    m.outgoing = outgoing;
    m.content.kind = kind;
    m.content.sentAt = at;
    m.content.text = std::move(text);
    m.at = at;
    return m;
}

inline StoredMessage helpRequest(const std::string& id, const PairedDevice& peer, Date at,
                                 std::optional<std::string> topic = std::nullopt,
                                 std::optional<std::string> note = std::nullopt,
                                 std::optional<int> attachments = std::nullopt)
{
    auto m = mail(id, peer, MailContent::Kind::helpRequest, at, false, std::move(note));
    m.content.topic = std::move(topic);
    m.content.attachments = attachments;
    return m;
}

class PeopleRig {
public:
    // Everything before make() is what the program finds stored when it starts.
    void history(const std::vector<StoredMessage>& messages)
    {
        viewer.defaults->setData("WLMessages", StoredMessage::encodeList(messages));
    }
    // A roster of this person's Macs, signed by a person key of the test's own.
    void roster(const std::vector<PairedDevice>& macs)
    {
        MyMacsRoster roster{person.publicKeyBase64(), 1, {}};
        for (const auto& mac : macs)
            roster.macs.push_back({mac.id, mac.publicKey, mac.name});
        viewer.defaults->setData(MyMacs::kRosterKey, SignedRoster::sign(roster, person).encode());
    }
    void asking(const std::vector<std::string>& ids)
    {
        viewer.defaults->setStringList(MyMacs::kAskingKey, {ids.begin(), ids.end()});
    }

    void make(const std::vector<PairedDevice>& hosts)
    {
        viewer.pair(hosts);
        viewer.make();
        PeopleView::Options options;
        options.clock = [this] { return now; };
        options.timers = ageTimers.factory();
        options.prompts = &viewer.prompts;
        options.openPicture = [this](const TransferredFile& file, const QString& title, QSize) {
            opened.push_back({file.id, title.toStdString()});
        };
        view = std::make_unique<PeopleView>(*viewer.viewer, answers, options);
        view->resize(640, 900);
    }
    ~PeopleRig()
    {
        view.reset();
        waitForNextTurn(); // what the list left to delete goes
    }

    ViewerController& controller() { return *viewer.viewer; }
    void online(const std::vector<PairedDevice>& devices)
    {
        for (const auto& device : devices)
            controller().hosts().setOnline(true, device);
    }

    // The widgets of the list as it is drawn now.
    template <typename T = QWidget>
    std::vector<T*> all(const char* name) const
    {
        std::vector<T*> out;
        for (T* widget : view->findChildren<T*>(QString::fromLatin1(name)))
            if (!widget->isHidden() || widget->objectName() == QLatin1String(name))
                out.push_back(widget);
        return out;
    }
    PersonCard* card(const std::string& name) const { return view->card(name); }
    QWidget* line(const PairedDevice& device) const
    {
        for (auto* widget : view->findChildren<QWidget*>(QStringLiteral("deviceLine")))
            if (widget->property("deviceId").toString().toStdString() == device.id)
                return widget;
        return nullptr;
    }
    template <typename T = QAbstractButton>
    static T* child(QWidget* parent, const char* name)
    {
        return parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    static std::string text(QWidget* parent, const char* name)
    {
        auto* label = child<QLabel>(parent, name);
        return label ? label->text().toStdString() : std::string("<none>");
    }
    static void click(QAbstractButton* button)
    {
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(waitForNextTurn()) << "what the click queued has run";
    }

    ViewerRig viewer;
    RecordingAnswers answers;
    SigningKey person = SigningKey::generate();
    Date now = dateNow();
    ManualTimers ageTimers; // what moves the list's ages on
    std::unique_ptr<PeopleView> view;
    std::vector<std::pair<std::string, std::string>> opened; // file id, window title
};

} // namespace wl::test
