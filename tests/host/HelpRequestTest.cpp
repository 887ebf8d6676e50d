// The host's help request against the real introduction service: sent to several
// helpers (each a messenger of its own, with its own keys), recorded, restored after a
// restart, ended by a helper's "done", by an accepted session and by cancelling; its
// pictures from files, drops and pastes, stored and read back, and handed out only to a
// helper it was sent to.
#include "../mail/MailTestKit.h"
#include "HostTestKit.h"

#include "host/HelpRequestCenter.h"
#include "media/Pictures.h"
#include "platform/Log.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>

namespace wl::test {
namespace {

using namespace std::chrono_literals;

QImage pictureOf(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.fillRect(width / 4, height / 4, width / 2, height / 2, Qt::white);
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.write(image);
    return bytes;
}

// The checksum of PNG chunks.
std::uint32_t crc32(const unsigned char* bytes, std::size_t length)
{
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

QImage decodedJpeg(const TransferredFile& file)
{
    return QImage::fromData(QByteArray::fromStdString(file.data), "JPEG");
}

std::string writeFile(const TempDir& dir, const std::string& name, const QByteArray& bytes)
{
    const auto path = dir.path() / name;
    QFile file(QString::fromStdString(path.string()));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path.string();
}

// ---- against the service ----

class HostRequests : public ::testing::Test {
protected:
    // A mailbox holds at most two envelopes here, so that a helper who doesn't read
    // its mail soon refuses more (429).
    HostRequests() : rig({"--mailbox-capacity=2"}) { }

    void SetUp() override
    {
        ASSERT_TRUE(rig.started);
        for (Mac* mac : {&ann, &bo, &cy, &dee}) {
            mac->make(rig.service.httpUrl());
            mac->contacts.push_back(PairedDevice{rig.hostId(), "The Host", rig.hostKey(), dateNow(), {}, {}});
        }
    }

    // The host with its paired helpers, its key published and its mailbox open.
    void makeHost(const std::vector<PairedDevice>& helpers)
    {
        rig.pair(helpers);
        rig.make();
        rig.services->messenger->start();
        ASSERT_TRUE(waitUntil([&] {
            return ServiceProcess::httpRequest(rig.service.port(), "GET", "/v1/keys/" + rig.hostId()) == 200 &&
                rig.services->messenger->mailboxLink() && rig.services->messenger->mailboxLink()->isOpen();
        }));
    }

    bool sent(HelpRequestCenter& center)
    {
        return waitUntil([&] { return !center.sending(); }, 20000);
    }

    // Mail from the host on its way to a helper has arrived: a message the host sends after
    // it has.
    void mailIn(Mac& mac)
    {
        const std::string text = "mark " + std::to_string(++marks_);
        ASSERT_TRUE(sendAndWait(*rig.services->messenger, textMail(text), mac.record()).ok());
        ASSERT_TRUE(waitUntil(
            [&] {
                return std::any_of(mac.received.begin(), mac.received.end(),
                                   [&](const StoredMessage& message) { return message.content.text == text; });
            },
            15000))
            << text;
    }

    std::vector<StoredMessage> receivedOf(const Mac& mac, MailContent::Kind kind) const
    {
        std::vector<StoredMessage> out;
        for (const auto& message : mac.received)
            if (message.content.kind == kind)
                out.push_back(message);
        return out;
    }

    HostRig rig;
    Mac ann{"Ann Example"}; // reads her mail
    Mac bo{"Bo Missing"}; // has published no mail key
    Mac cy{"Cy Away"}; // published a key, never reads: the mailbox fills up
    Mac dee{"Dee Reader"}; // reads her mail
    int marks_ = 0;
};

TEST_F(HostRequests, SentToEveryHelperInTurnRecordedForThoseWhoGotIt)
{
    ASSERT_NO_FATAL_FAILURE(makeHost({}));
    ASSERT_TRUE(ann.start(rig.service));
    bool published = false;
    cy.messenger->publishKeyRecord([&](bool ok) { published = ok; });
    ASSERT_TRUE(waitUntil([&] { return published; }));
    // Cy's mailbox is full before the request comes.
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(sendAndWait(*rig.services->messenger, textMail("hello " + std::to_string(i)), cy.record()).ok());

    std::vector<PairedDevice> helpers = {bo.record(), cy.record(), ann.record()};
    HelpRequestCenter::Options centerOptions;
    centerOptions.prompts = &rig.prompts;
    centerOptions.defaults = std::make_shared<MemoryDefaults>();
    HelpRequestCenter center(
        *rig.services->messenger, [&] { return helpers; }, centerOptions);
    int sentCalls = 0;
    center.onSent = [&] { ++sentCalls; };
    center.addPicture(pictureOf(640, 400, Qt::blue), "scan");
    center.addPicture(pictureOf(320, 200, Qt::red), "printer light");
    ASSERT_EQ(center.draft().size(), 2u);

    center.send(HelpTopic::printer, "  The printer jams\n ");
    EXPECT_TRUE(center.sending());
    // A second press while it goes out changes nothing.
    center.send(HelpTopic::email, "again");
    // A picture added while it goes out stays for the next request.
    center.addPicture(pictureOf(100, 100, Qt::green), "later");
    ASSERT_TRUE(sent(center));

    // Bo has no key and Cy's mailbox is full; Ann got it, and that is not a problem.
    EXPECT_FALSE(center.problem()) << *center.problem();
    ASSERT_TRUE(center.active());
    const auto& active = *center.active();
    ASSERT_EQ(active.sent.size(), 1u);
    ASSERT_TRUE(active.sent.count(ann.id()));
    EXPECT_EQ(active.helperNames, std::vector<std::string>{"Ann Example"});
    EXPECT_EQ(active.topic, std::optional<std::string>("Printer"));
    EXPECT_EQ(active.note, std::optional<std::string>("The printer jams"));
    EXPECT_EQ(active.attachments, 2);
    EXPECT_EQ(sentCalls, 1);
    ASSERT_TRUE(waitUntil([&] { return !receivedOf(ann, MailContent::Kind::helpRequest).empty(); }));
    ASSERT_NO_FATAL_FAILURE(mailIn(ann));
    auto requests = receivedOf(ann, MailContent::Kind::helpRequest);
    ASSERT_EQ(requests.size(), 1u) << "one request, however often it was pressed";
    EXPECT_EQ(requests[0].id, active.sent.at(ann.id()));
    EXPECT_EQ(requests[0].content.text, std::optional<std::string>("The printer jams"));
    EXPECT_EQ(requests[0].content.topic, std::optional<std::string>("Printer"));
    EXPECT_EQ(requests[0].content.attachments, std::optional<int>(2)) << "the count as sending started";

    // The pictures that went are the request's, on disk in order; the late one waits.
    ASSERT_EQ(center.activeFiles().size(), 2u);
    EXPECT_EQ(center.activeFiles()[0].name, "scan");
    EXPECT_EQ(center.activeFiles()[1].name, "printer light");
    ASSERT_EQ(center.draft().size(), 1u);
    EXPECT_EQ(center.draft()[0].name, "later");
    auto stored = center.loadPictures();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].id, "0 scan.jpg");
    EXPECT_EQ(stored[0].name, "scan");
    EXPECT_EQ(stored[1].id, "1 printer light.jpg");
    EXPECT_EQ(stored[1].name, "printer light");
    EXPECT_EQ(stored[0].data, center.activeFiles()[0].data);
    EXPECT_TRUE(rig.historyHas("Asked Ann Example for help with 2 pictures"));

    // The pictures go only to Ann, and only for that request.
    EXPECT_TRUE(center.attachmentsForRequest(ann.id(), active.sent.at(ann.id())));
    EXPECT_FALSE(center.attachmentsForRequest(ann.id(), std::string("another request")));
    EXPECT_FALSE(center.attachmentsForRequest(ann.id(), std::nullopt));
    EXPECT_FALSE(center.attachmentsForRequest(cy.id(), active.sent.at(ann.id())));

    // When every send fails, the last failure says why; the record and draft stay.
    const auto before = center.active();
    helpers = {bo.record(), cy.record()};
    center.send(std::nullopt, "");
    ASSERT_TRUE(sent(center));
    EXPECT_EQ(center.problem(), std::optional<std::string>("Too many messages for now. Try again in a few minutes."));
    helpers = {cy.record(), bo.record()};
    center.send(std::nullopt, "");
    ASSERT_TRUE(sent(center));
    EXPECT_EQ(center.problem(),
              std::optional<std::string>("Their Wickerlane needs updating before it can receive messages."));
    helpers = {ann.record()};
    center.send(std::nullopt, std::string(80000, 'x')); // over the mailbox's largest mail
    ASSERT_TRUE(sent(center));
    EXPECT_EQ(center.problem(), std::optional<std::string>("The message wasn't accepted."));
    helpers = {};
    center.send(std::nullopt, "");
    EXPECT_FALSE(center.sending());
    EXPECT_EQ(center.problem(), std::optional<std::string>("No helpers are paired with this Mac yet."));
    helpers = {ann.record()};
    rig.service.kill9();
    center.send(std::nullopt, "");
    ASSERT_TRUE(sent(center));
    EXPECT_EQ(center.problem(),
              std::optional<std::string>("Couldn't reach the Wickerlane service. Check the internet connection."));
    EXPECT_EQ(center.active(), before);
    EXPECT_EQ(center.draft().size(), 1u);
    EXPECT_EQ(sentCalls, 1);
}

TEST_F(HostRequests, EndedByAHelpersDoneAndByCancellingWhichSkipsRemovedHelpers)
{
    ASSERT_NO_FATAL_FAILURE(makeHost({ann.record(), dee.record()}));
    ASSERT_TRUE(ann.start(rig.service));
    ASSERT_TRUE(dee.start(rig.service));
    HelpRequestCenter& center = rig.host->helpRequests();
    EXPECT_EQ(center.helperNamesText(), "Ann and Dee");
    EXPECT_FALSE(rig.host->isListening());

    center.send(HelpTopic::internet, "No Wi-Fi");
    ASSERT_TRUE(sent(center));
    ASSERT_TRUE(center.active());
    EXPECT_TRUE(rig.host->isListening()) << "the helpers it asked can connect";
    EXPECT_TRUE(rig.historyHas("Asked Ann Example, Dee Reader for help"));
    ASSERT_TRUE(waitUntil([&] { return !receivedOf(ann, MailContent::Kind::helpRequest).empty(); }));
    const std::string annRequest = receivedOf(ann, MailContent::Kind::helpRequest)[0].id;

    // Ann answers; the replies of the open request are listed.
    MailContent reply = textMail("On my way", MailContent::Kind::reply);
    reply.replyTo = annRequest;
    ASSERT_TRUE(sendAndWait(*ann.messenger, reply, ann.contacts[0]).ok());
    ASSERT_TRUE(waitUntil([&] { return center.replies().size() == 1; }));
    EXPECT_EQ(center.replies()[0].content.text, std::optional<std::string>("On my way"));

    // A "done" that answers another (older) request leaves this one open.
    MailContent done;
    done.kind = MailContent::Kind::cancel;
    done.sentAt = dateNow();
    done.replyTo = "an older request";
    ASSERT_TRUE(sendAndWait(*ann.messenger, done, ann.contacts[0]).ok());
    // A message Ann sends after it has reached the host: so has the "done" (her mailbox at
    // the service hands them on in turn).
    ASSERT_TRUE(sendAndWait(*ann.messenger, textMail("after the done"), ann.contacts[0]).ok());
    ASSERT_TRUE(waitUntil([&] {
        const auto& messages = rig.services->messenger->messages();
        return std::any_of(messages.begin(), messages.end(), [](const StoredMessage& message) {
            return message.content.text == std::optional<std::string>("after the done");
        });
    }));
    EXPECT_TRUE(center.active());
    // Ann's "done" for this one ends it.
    done.replyTo = annRequest;
    ASSERT_TRUE(sendAndWait(*ann.messenger, done, ann.contacts[0]).ok());
    ASSERT_TRUE(waitUntil([&] { return !center.active(); }));
    EXPECT_TRUE(rig.historyHas("Ann Example marked the help request done"));

    // A new request; Dee is removed before it is cancelled: only Ann is told.
    center.send(HelpTopic::other, "");
    ASSERT_TRUE(sent(center));
    ASSERT_TRUE(center.active());
    ASSERT_TRUE(waitUntil([&] { return receivedOf(ann, MailContent::Kind::helpRequest).size() == 2; }));
    const std::string second = receivedOf(ann, MailContent::Kind::helpRequest)[1].id;
    rig.host->pairedHelpers().removeHelper(rig.host->helpers()[1]);
    center.cancel();
    EXPECT_FALSE(center.active());
    EXPECT_FALSE(std::filesystem::exists(center.folder()));
    EXPECT_TRUE(rig.historyHas("Cancelled the help request"));
    ASSERT_TRUE(waitUntil([&] { return !receivedOf(ann, MailContent::Kind::cancel).empty(); }));
    EXPECT_EQ(receivedOf(ann, MailContent::Kind::cancel)[0].content.replyTo, std::optional<std::string>(second));
    ASSERT_NO_FATAL_FAILURE(mailIn(dee));
    EXPECT_TRUE(receivedOf(dee, MailContent::Kind::cancel).empty());
    EXPECT_FALSE(center.problem());

    // A withdrawal that can't be delivered is logged and shown.
    center.send(HelpTopic::other, "");
    ASSERT_TRUE(sent(center));
    ASSERT_TRUE(center.active());
    rig.service.kill9();
    CapturedLog log;
    center.cancel();
    EXPECT_FALSE(center.active());
    ASSERT_TRUE(waitUntil([&] { return center.problem().has_value(); }));
    EXPECT_EQ(*center.problem(),
              "The request was cancelled here, but Ann couldn't be told. Couldn't reach the "
              "Wickerlane service. Check the internet connection.");
    EXPECT_TRUE(log.contains("Wickerlane: couldn't tell Ann Example that the help request was cancelled"));
}

TEST_F(HostRequests, TheOpenRequestOutlivesARestartFor48Hours)
{
    const Date now = 800000000;
    rig.fixedNow = now;
    const std::vector<TransferredFile> pictures = {{"0 my photo.jpg", "my photo", "image/jpeg", "first"},
                                                   {"1 scan.jpg", "scan", "image/jpeg", "second"}};
    HelpRequestCenter::Active active;
    active.sent[ann.id()] = "request-a";
    active.helperNames = {ann.name};
    active.topic = "Email";
    active.sentAt = now - 47 * 3600;
    active.attachments = 2;

    // 47 hours old: restored with its pictures, read back in order by file name.
    rig.leaveOpenRequest(active, pictures);
    rig.make();
    HelpRequestCenter* center = &rig.host->helpRequests();
    ASSERT_TRUE(center->active());
    EXPECT_EQ(*center->active(), active);
    EXPECT_EQ(center->activeFiles(), pictures);
    EXPECT_EQ(center->attachmentsForRequest(ann.id(), std::string("request-a")), pictures);
    rig.destroy();

    // Exactly 48 hours old: dropped, with its pictures.
    active.sentAt = now - 48 * 3600;
    rig.leaveOpenRequest(active, pictures);
    rig.make();
    center = &rig.host->helpRequests();
    EXPECT_FALSE(center->active());
    EXPECT_TRUE(center->activeFiles().empty());
    EXPECT_FALSE(std::filesystem::exists(center->folder()));
    EXPECT_FALSE(center->attachmentsForRequest(ann.id(), std::string("request-a")));
    rig.destroy();

    // A date in the future counts as young; a record that doesn't read is dropped.
    active.sentAt = now + 3600;
    rig.leaveOpenRequest(active, pictures);
    rig.make();
    EXPECT_TRUE(rig.host->helpRequests().active());
    rig.destroy();
    rig.leaveOpenRequest(active, pictures);
    rig.defaults->setData(HelpRequestCenter::kActiveKey, "{\"sent\": 3}");
    rig.make();
    EXPECT_FALSE(rig.host->helpRequests().active());
    EXPECT_FALSE(std::filesystem::exists(rig.host->helpRequests().folder()));

    // Ending a request that isn't there leaves a pictures folder alone.
    std::filesystem::create_directories(rig.host->helpRequests().folder());
    rig.host->helpRequests().clearActive();
    EXPECT_TRUE(std::filesystem::exists(rig.host->helpRequests().folder()));
}

// ---- pictures, without a service ----

class HostRequestPictures : public ::testing::Test {
protected:
    void SetUp() override
    {
        MessengerOptions options;
        options.identity = MailIdentity::inMemory(defaults, "Host");
        options.serviceURL = [this] { return QUrl(QString::fromStdString(noService.httpUrl())); };
        options.prompts = &prompts;
        options.notifier = &notifier;
        options.timers = qtTimerFactory();
        messenger = std::make_unique<Messenger>(
            "WLMessages", [] { return std::vector<PairedDevice>{}; }, options);
        HelpRequestCenter::Options centerOptions;
        centerOptions.prompts = &prompts;
        centerOptions.picturesFolder = folder.path() / "Request Pictures";
        centerOptions.defaults = defaults;
        center = std::make_unique<HelpRequestCenter>(
            *messenger, [] { return std::vector<PairedDevice>{}; }, centerOptions);
    }
    void TearDown() override
    {
        center.reset();
        messenger.reset();
    }

    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    RefusingPort noService;
    TempDir folder;
    TempDir files;
    ScriptedPrompts prompts;
    RecordingNotifier notifier;
    std::unique_ptr<Messenger> messenger;
    std::unique_ptr<HelpRequestCenter> center;
};

TEST_F(HostRequestPictures, ReducedToAJpegAtMost2560Wide)
{
    auto wide = Pictures::jpegData(pictureOf(5120, 2880, Qt::darkCyan), 2560);
    ASSERT_TRUE(wide);
    QImage reduced = QImage::fromData(QByteArray::fromStdString(*wide), "JPEG");
    EXPECT_EQ(reduced.size(), QSize(2560, 1440));
    auto small = Pictures::jpegData(pictureOf(1000, 800, Qt::darkCyan), 2560);
    ASSERT_TRUE(small);
    EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(*small), "JPEG").size(), QSize(1000, 800));
    // The height is cut to a whole pixel, and transparency lies on white.
    QImage clear(3000, 1001, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    auto flattened = Pictures::jpegData(clear, 2560);
    ASSERT_TRUE(flattened);
    QImage white = QImage::fromData(QByteArray::fromStdString(*flattened), "JPEG");
    EXPECT_EQ(white.size(), QSize(2560, 854));
    EXPECT_GT(qGray(white.pixel(100, 100)), 240);
}

TEST_F(HostRequestPictures, ChosenDroppedAndPastedUpToThree)
{
    const std::string photo = writeFile(files, "photo.png", encoded(pictureOf(800, 600, Qt::red), "PNG"));
    const std::string scan = writeFile(files, "my scan.jpg", encoded(pictureOf(3000, 2000, Qt::blue), "JPEG"));

    // Chosen: the panel offers what is left.
    prompts.answerOpen({photo});
    center->choosePictures();
    ASSERT_EQ(prompts.questions().back().kind, ScriptedPrompts::Question::Kind::open);
    EXPECT_EQ(prompts.questions().back().title, "Choose up to 3 pictures to show");
    ASSERT_EQ(center->draft().size(), 1u);
    EXPECT_EQ(center->draft()[0].name, "photo");
    EXPECT_EQ(center->draft()[0].type, "image/jpeg");
    EXPECT_EQ(decodedJpeg(center->draft()[0]).size(), QSize(800, 600));

    // Dropped: a file keeps its base name, and is reduced.
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(scan))});
    EXPECT_TRUE(center->addDropped(drop));
    ASSERT_EQ(center->draft().size(), 2u);
    EXPECT_EQ(center->draft()[1].name, "my scan");
    EXPECT_EQ(decodedJpeg(center->draft()[1]).size(), QSize(2560, 1706));

    // Pasted: an image without a file is a "Picture".
    QMimeData paste;
    paste.setData("image/png", encoded(pictureOf(200, 100, Qt::green), "PNG"));
    EXPECT_TRUE(center->addDropped(paste));
    ASSERT_EQ(center->draft().size(), 3u);
    EXPECT_EQ(center->draft()[2].name, "Picture");

    // The fourth, from anywhere, is ignored; the panel offers none.
    EXPECT_TRUE(center->addDropped(drop));
    center->addPicture(pictureOf(10, 10, Qt::red), "more");
    prompts.answerOpen({photo});
    center->choosePictures();
    EXPECT_EQ(prompts.questions().back().title, "Choose up to 0 pictures to show");
    EXPECT_EQ(center->draft().size(), 3u);
    bool screenshotTaken = false;
    HelpRequestCenter::Options options;
    options.prompts = &prompts;
    options.defaults = std::make_shared<MemoryDefaults>();
    options.picturesFolder = folder.path() / "other";
    options.screenshot = [&](const std::vector<std::uint64_t>&, std::string&) -> std::optional<QImage> {
        screenshotTaken = true;
        return pictureOf(10, 10, Qt::red);
    };
    HelpRequestCenter full(
        *messenger, [] { return std::vector<PairedDevice>{}; }, options);
    for (int i = 0; i < 3; ++i)
        full.addPicture(pictureOf(10, 10, Qt::red), "p");
    full.takeScreenshot();
    // Refused at once: no thread is started that could take one later.
    ASSERT_TRUE(test::waitForNextTurn());
    EXPECT_FALSE(screenshotTaken) << "no screenshot is even taken when three are there";

    // Removing one makes room again; a drop of nothing usable is not taken.
    center->removePicture(center->draft()[1]);
    ASSERT_EQ(center->draft().size(), 2u);
    EXPECT_EQ(center->draft()[1].name, "Picture");
    QMimeData text;
    text.setText("hello");
    EXPECT_FALSE(center->addDropped(text));
    EXPECT_FALSE(center->problem());
}

// The helpers fetch an open request's pictures from memory; the folder brings them back
// after a restart. When they can't be written there, the log says why and the user is told.
TEST_F(HostRequestPictures, PicturesThatCantBeKeptAreLoggedAndNamed)
{
    CapturedLog log;
    HelpRequestCenter::Active active;
    active.sent["helper"] = "request-a";
    active.attachments = 1;
    const std::vector<TransferredFile> pictures = {{"0 scan.jpg", "scan", "image/jpeg", "bytes"}};

    // A file stands where the folder goes.
    writeFile(folder, "blocked", "a file");
    HelpRequestCenter::Options options;
    options.prompts = &prompts;
    options.defaults = std::make_shared<MemoryDefaults>();
    options.picturesFolder = folder.path() / "blocked" / "Request Pictures";
    HelpRequestCenter blocked(
        *messenger, [] { return std::vector<PairedDevice>{}; }, options);
    blocked.setActive(active, pictures);
    EXPECT_EQ(blocked.problem(), std::optional<std::string>(HelpRequestCenter::kPicturesNotKept));
    EXPECT_TRUE(log.contains("Wickerlane: the request's pictures weren't kept: the folder "));
    EXPECT_EQ(blocked.attachmentsForRequest("helper", std::string("request-a")), pictures);

    // The folder is there, a picture's file can't be written.
    EXPECT_FALSE(center->problem());
    center->setActive(active, {{"0 x.jpg", "in/a folder", "image/jpeg", "bytes"}});
    EXPECT_EQ(center->problem(), std::optional<std::string>(HelpRequestCenter::kPicturesNotKept));
    EXPECT_TRUE(log.contains("couldn't be written"));
}

TEST_F(HostRequestPictures, TooBigTooLargeAndDamagedPicturesAreRefusedWithAText)
{
    // A 20 MB file: read with bounded memory and reduced like any other.
    {
        QImage big(3200, 2176, QImage::Format_RGB32);
        big.fill(Qt::gray);
        const QByteArray bmp = encoded(big, "BMP");
        ASSERT_LE(bmp.size(), Pictures::kMaxFileBytes);
        ASSERT_GE(bmp.size(), 20 * 1000 * 1000);
        center->addPictureFromFile(writeFile(files, "big.bmp", bmp));
        ASSERT_EQ(center->draft().size(), 1u);
        EXPECT_EQ(decodedJpeg(center->draft()[0]).size(), QSize(2560, 1740));
        EXPECT_FALSE(center->problem());
    }
    // One byte more than 20 MiB is not read at all.
    {
        QByteArray bytes = encoded(pictureOf(100, 100, Qt::red), "PNG");
        bytes.append(QByteArray(int(Pictures::kMaxFileBytes) + 1 - bytes.size(), '\0'));
        center->addPictureFromFile(writeFile(files, "padded.png", bytes));
        EXPECT_EQ(center->draft().size(), 1u);
        EXPECT_EQ(
            center->problem(),
            std::optional<std::string>("\u201cpadded\u201d is too big to add: a picture file can be at most 20 MB."));
    }
    // A small file that says it is 16000 x 16000 pixels: refused before anything is decoded.
    {
        QImage strip(16000, 1, QImage::Format_Mono);
        strip.fill(0);
        QByteArray png = encoded(strip, "PNG");
        ASSERT_GT(png.size(), 33);
        // The header's height, rewritten (with its checksum): the file stays tiny, the
        // picture would take a gigabyte.
        png[20] = char(0x00);
        png[21] = char(0x00);
        png[22] = char(0x3e);
        png[23] = char(0x80);
        const std::uint32_t sum = crc32(reinterpret_cast<const unsigned char*>(png.constData()) + 12, 17);
        for (int i = 0; i < 4; ++i)
            png[29 + i] = char((sum >> (24 - 8 * i)) & 0xff);
        center->addPictureFromFile(writeFile(files, "huge.png", png));
        EXPECT_EQ(center->draft().size(), 1u);
        EXPECT_EQ(center->problem(),
                  std::optional<std::string>("\u201chuge\u201d is too large to add: a picture can be "
                                             "at most 16384 pixels wide or high, and 50 million "
                                             "pixels in all."));
    }
    // Damaged and not a picture at all, from a file and from a paste.
    {
        QByteArray jpeg = encoded(pictureOf(400, 300, Qt::red), "JPEG");
        jpeg.truncate(jpeg.size() / 3);
        jpeg.append(QByteArray(500, char(0xff)));
        center->addPictureFromFile(writeFile(files, "broken.jpg", jpeg));
        const std::size_t count = center->draft().size();
        EXPECT_LE(count, 2u); // a decoder may show what it could read; it never fails the program
        center->clearProblem();
        center->addPictureFromFile(writeFile(files, "notes.txt", QByteArray("just some text")));
        EXPECT_EQ(center->draft().size(), count);
        EXPECT_EQ(center->problem(),
                  std::optional<std::string>("\u201cnotes\u201d isn't a picture Wickerlane can read."));
        QMimeData paste;
        paste.setData("image/png", QByteArray("\x89PNG\r\n\x1a\nnot really", 18));
        EXPECT_TRUE(center->addDropped(paste));
        EXPECT_EQ(center->draft().size(), count);
        EXPECT_EQ(center->problem(),
                  std::optional<std::string>("\u201cPicture\u201d isn't a picture Wickerlane can read."));
    }
}

} // namespace
} // namespace wl::test
