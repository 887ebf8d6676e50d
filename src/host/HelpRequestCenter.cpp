#include "host/HelpRequestCenter.h"

#include "platform/Required.h"

#include "host/PairedHelpers.h"
#include "host/SessionHistory.h"
#include "media/Pictures.h"
#include "media/Screenshot.h"
#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QMimeData>
#include <QPointer>
#include <QTime>
#include <QUrl>
#include <QUuid>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

namespace wl {

namespace {

// "Ann", "Ann and Bo", "Ann, Bo and Cy".
std::string joinedNames(const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

std::string newPictureId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

} // namespace

// ---- the record ----

nlohmann::json HelpRequestCenter::Active::toJson() const
{
    nlohmann::json json = {
        {"sent", sent}, {"helperNames", helperNames}, {"sentAt", sentAt}, {"attachments", attachments}};
    if (topic)
        json["topic"] = *topic;
    if (note)
        json["note"] = *note;
    return json;
}

std::optional<HelpRequestCenter::Active> HelpRequestCenter::Active::fromJson(const nlohmann::json& json)
{
    if (!json.is_object())
        return std::nullopt;
    auto sentIt = json.find("sent");
    auto namesIt = json.find("helperNames");
    auto atIt = json.find("sentAt");
    auto countIt = json.find("attachments");
    if (sentIt == json.end() || !sentIt->is_object() || namesIt == json.end() || !namesIt->is_array() ||
        atIt == json.end() || !atIt->is_number() || countIt == json.end() || !countIt->is_number_integer())
        return std::nullopt;
    Active active;
    for (const auto& [id, message] : sentIt->items()) {
        if (!message.is_string())
            return std::nullopt;
        active.sent[id] = message.get<std::string>();
    }
    for (const auto& name : *namesIt) {
        if (!name.is_string())
            return std::nullopt;
        active.helperNames.push_back(name.get<std::string>());
    }
    for (const char* key : {"topic", "note"}) {
        auto it = json.find(key);
        if (it == json.end())
            continue;
        if (!it->is_string())
            return std::nullopt;
        (std::string(key) == "topic" ? active.topic : active.note) = it->get<std::string>();
    }
    active.sentAt = atIt->get<double>();
    active.attachments = countIt->get<int>();
    return active;
}

// ---- life ----

HelpRequestCenter::HelpRequestCenter(Messenger& messenger, std::function<std::vector<PairedDevice>()> helpers,
                                     Options options, QObject* parent)
    : QObject(parent), messenger_(messenger), helpers_(std::move(helpers)), options_(std::move(options))
{
    required(options_.prompts, "HelpRequestCenter", "prompts");
    required(options_.defaults, "HelpRequestCenter", "a settings store");
    folder_ = options_.picturesFolder.empty() ? picturesFolder() : options_.picturesFolder;
    restore();
}

HelpRequestCenter::~HelpRequestCenter()
{
    alive_.reset();
    // A screenshot still being taken is waited for; its picture is dropped.
    if (screenshotThread_.joinable())
        screenshotThread_.join();
}

Prompts& HelpRequestCenter::prompts() const
{
    return *options_.prompts;
}

std::filesystem::path HelpRequestCenter::picturesFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data && *data) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home ? home : "") / ".local" / "share";
    }
    return base / "Wickerlane Host" / "Request Pictures";
}

void HelpRequestCenter::restore()
{
    auto bytes = options_.defaults->data(kActiveKey);
    std::optional<Active> saved;
    if (bytes) {
        auto json = nlohmann::json::parse(*bytes, nullptr, false);
        if (!json.is_discarded())
            saved = Active::fromJson(json);
    }
    // Young means less than 48 hours old; a date in the future counts as young.
    if (!saved || messenger_.now() - saved->sentAt >= kLifetime) {
        deletePictures();
        return;
    }
    active_ = std::move(saved);
    saveActive();
    activeFiles_ = loadPictures();
}

void HelpRequestCenter::setActive(Active active, std::vector<TransferredFile> pictures)
{
    active_ = std::move(active);
    saveActive();
    activeFiles_ = std::move(pictures);
    storePictures(activeFiles_);
    Q_EMIT changed();
}

void HelpRequestCenter::saveActive()
{
    options_.defaults->setData(kActiveKey, active_ ? active_->toJson().dump() : std::string("null"));
}

void HelpRequestCenter::setProblem(std::optional<std::string> problem)
{
    if (problem_ == problem)
        return;
    problem_ = std::move(problem);
    Q_EMIT changed();
}

void HelpRequestCenter::clearProblem()
{
    setProblem(std::nullopt);
}

// ---- sending ----

struct HelpRequestCenter::Sending {
    std::vector<PairedDevice> helpers;
    MailContent content;
    std::vector<TransferredFile> pictures; // the draft as it was when sending started
    std::map<std::string, std::string> sent;
    std::optional<Messenger::SendError> lastFailure;
    std::size_t next = 0;
};

void HelpRequestCenter::send(std::optional<HelpTopic> topic, const std::string& note)
{
    assertMainThread("HelpRequestCenter::send");
    // One request at a time: a second press while it goes out changes nothing.
    if (sending_)
        return;
    const std::vector<PairedDevice> helpers = this->helpers();
    if (helpers.empty()) {
        setProblem("No helpers are paired with this Mac yet.");
        return;
    }
    auto sending = std::make_shared<Sending>();
    sending->helpers = helpers;
    sending->pictures = draft_;
    MailContent& content = sending->content;
    content.kind = MailContent::Kind::helpRequest;
    const std::string trimmed = trimmedText(note);
    if (!trimmed.empty())
        content.text = trimmed;
    if (topic)
        content.topic = rawValue(*topic);
    content.sentAt = messenger_.now();
    if (!sending->pictures.empty())
        content.attachments = int(sending->pictures.size());
    sending_ = true;
    problem_.reset();
    Q_EMIT changed();
    sendNext(sending);
}

void HelpRequestCenter::sendNext(std::shared_ptr<Sending> sending)
{
    // Helpers are mailed strictly one after another; a failure goes on with the next.
    if (sending->next >= sending->helpers.size()) {
        finishSending(sending);
        return;
    }
    const PairedDevice helper = sending->helpers[sending->next++];
    QPointer<HelpRequestCenter> self(this);
    messenger_.send(sending->content, helper, [self, sending, helper](Messenger::SendResult result) {
        if (!self)
            return;
        if (result.ok())
            sending->sent[helper.id] = result.message->id;
        else if (result.error)
            sending->lastFailure = *result.error;
        self->sendNext(sending);
    });
}

void HelpRequestCenter::finishSending(const std::shared_ptr<Sending>& sending)
{
    sending_ = false;
    if (sending->sent.empty()) {
        std::string text = "The request wasn't sent.";
        if (sending->lastFailure)
            text = Messenger::sendErrorText(*sending->lastFailure);
        problem_ = text;
        Q_EMIT changed();
        return;
    }
    std::vector<std::string> names;
    for (const auto& helper : sending->helpers)
        if (sending->sent.count(helper.id))
            names.push_back(helper.name);
    Active active;
    active.sent = sending->sent;
    active.helperNames = names;
    active.topic = sending->content.topic;
    active.note = sending->content.text;
    active.sentAt = messenger_.now();
    active.attachments = int(sending->pictures.size());
    active_ = std::move(active);
    saveActive();

    // The pictures that went with it become the request's; pictures added while it was
    // being sent stay in the draft for the next one.
    activeFiles_ = sending->pictures;
    storePictures(activeFiles_);
    std::erase_if(draft_, [&](const TransferredFile& picture) {
        return std::any_of(sending->pictures.begin(), sending->pictures.end(),
                           [&](const TransferredFile& sent) { return sent.id == picture.id; });
    });

    std::string line = "Asked ";
    for (std::size_t i = 0; i < names.size(); ++i)
        line += (i ? ", " : "") + names[i];
    line += " for help";
    const std::size_t count = sending->pictures.size();
    if (count > 0)
        line += " with " + std::to_string(count) + " picture" + (count == 1 ? "" : "s");
    appendSessionHistory(line);
    Q_EMIT changed();
    if (auto sent = onSent)
        sent();
}

// ---- ending ----

void HelpRequestCenter::cancel()
{
    if (!active_)
        return;
    const std::vector<PairedDevice> helpers = this->helpers();
    for (const auto& entry : active_->sent) {
        const std::string& helperId = entry.first;
        const auto& messageId = entry.second;
        auto helper =
            std::find_if(helpers.begin(), helpers.end(), [&](const PairedDevice& h) { return h.id == helperId; });
        if (helper == helpers.end())
            continue; // no longer paired: it can't be told, and needn't be
        MailContent content;
        content.kind = MailContent::Kind::cancel;
        content.replyTo = messageId;
        content.sentAt = messenger_.now();
        QPointer<HelpRequestCenter> self(this);
        const std::string name = helper->name;
        messenger_.send(content, *helper, [self, name](Messenger::SendResult result) {
            if (result.ok() || !result.error)
                return;
            const std::string why = Messenger::sendErrorText(*result.error);
            Log::line("Wickerlane: couldn't tell " + name + " that the help request was cancelled: " + why);
            if (self)
                self->setProblem("The request was cancelled here, but " + PairedHelpers::firstWord(name) +
                                 " couldn't be told. " + why);
        });
    }
    active_.reset();
    saveActive();
    activeFiles_.clear();
    deletePictures();
    appendSessionHistory("Cancelled the help request");
    Q_EMIT changed();
}

void HelpRequestCenter::helperMarkedDone(const StoredMessage& message)
{
    if (!active_ || message.outgoing || message.content.kind != MailContent::Kind::cancel || !message.content.replyTo)
        return;
    // The mail must answer the request as that helper got it.
    auto it = active_->sent.find(message.peerId);
    if (it == active_->sent.end() || it->second != *message.content.replyTo)
        return;
    clearActive();
    appendSessionHistory(message.peerName + " marked the help request done");
}

void HelpRequestCenter::clearActive()
{
    if (!active_)
        return;
    active_.reset();
    saveActive();
    activeFiles_.clear();
    deletePictures();
    Q_EMIT changed();
}

std::set<std::string> HelpRequestCenter::requestIds() const
{
    std::set<std::string> ids;
    if (active_)
        for (const auto& [helper, message] : active_->sent)
            ids.insert(message);
    return ids;
}

std::vector<StoredMessage> HelpRequestCenter::replies() const
{
    std::vector<StoredMessage> out;
    if (!active_)
        return out;
    for (const auto& message : messenger_.replies(requestIds()))
        if (!message.outgoing)
            out.push_back(message);
    return out;
}

std::vector<StoredMessage> HelpRequestCenter::passwordReplies() const
{
    std::vector<StoredMessage> out;
    if (!active_)
        return out;
    const std::set<std::string> ids = requestIds();
    for (const auto& message : messenger_.messages())
        if (!message.outgoing && message.content.kind == MailContent::Kind::password && message.content.replyTo &&
            ids.count(*message.content.replyTo))
            out.push_back(message);
    return out;
}

std::string HelpRequestCenter::helperNamesText() const
{
    std::vector<std::string> names;
    for (const auto& helper : helpers())
        names.push_back(PairedHelpers::firstWord(helper.name));
    if (names.empty())
        return "your helper";
    return joinedNames(names);
}

// ---- pictures ----

void HelpRequestCenter::appendPicture(std::string jpeg, const std::string& name)
{
    if (draft_.size() >= kMaxPictures)
        return;
    draft_.push_back(TransferredFile{newPictureId(), name, "image/jpeg", std::move(jpeg)});
    Q_EMIT changed();
}

void HelpRequestCenter::addPicture(const QImage& image, const std::string& name)
{
    assertMainThread("HelpRequestCenter::addPicture");
    if (draft_.size() >= kMaxPictures)
        return;
    auto jpeg = Pictures::jpegData(image, Pictures::kRequestWidth);
    if (!jpeg) {
        setProblem("\u201c" + name + "\u201d couldn't be made into a picture to send.");
        return;
    }
    appendPicture(std::move(*jpeg), name);
}

void HelpRequestCenter::addPictureFromFile(const std::string& path)
{
    if (draft_.size() >= kMaxPictures)
        return;
    const std::string name = QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString();
    PictureRead read = Pictures::readFile(path, name);
    if (!read.ok()) {
        Log::line("Wickerlane: a picture wasn't added: " + read.problem);
        setProblem(read.problem);
        return;
    }
    addPicture(read.image, name);
}

void HelpRequestCenter::takeScreenshot()
{
    assertMainThread("HelpRequestCenter::takeScreenshot");
    if (draft_.size() >= kMaxPictures || screenshotRunning_)
        return;
    // This program's own windows stay out of the picture.
    std::vector<std::uint64_t> excluded;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible())
                excluded.push_back(std::uint64_t(widget->winId()));
    screenshotRunning_ = true;
    auto grab = options_.screenshot;
    auto screens = options_.screens;
    const std::uint32_t display = options_.displays->mainDisplayID();
    QPointer<HelpRequestCenter> self(this);
    // The last screenshot's thread has delivered its picture (screenshotRunning_ was
    // cleared), so it has ended or is just ending.
    if (screenshotThread_.joinable())
        screenshotThread_.join();
    screenshotThread_ = std::thread([self, grab, screens, excluded, display] {
        std::string error;
        std::optional<std::string> jpeg;
        if (grab) {
            if (auto image = grab(excluded, error))
                jpeg = Pictures::jpegData(*image, Pictures::kRequestWidth);
        } else if (auto screen = screens ? screens() : nullptr; !screen) {
            error = "there is no screen to read";
        } else if (auto picture = grabScreenshot(*screen, display, excluded, error)) {
            QImage image(picture->bgrx.data(), picture->width, picture->height, picture->width * 4,
                         QImage::Format_RGB32);
            jpeg = Pictures::jpegData(image, Pictures::kRequestWidth);
        }
        const std::string name =
            "Screenshot " + QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat).toStdString();
        postToMainThread([self, jpeg, error, name]() mutable {
            if (!self)
                return;
            self->screenshotRunning_ = false;
            if (!jpeg) {
                Log::line("Wickerlane: screenshot failed: " + (error.empty() ? std::string("no picture") : error));
                self->setProblem("Couldn't take a screenshot. Is Screen Recording allowed for Wickerlane?");
                return;
            }
            self->appendPicture(std::move(*jpeg), name);
        });
    });
}

void HelpRequestCenter::choosePictures()
{
    OpenPanelRequest request;
    request.title =
        "Choose up to " + std::to_string(kMaxPictures - std::min(kMaxPictures, draft_.size())) + " pictures to show";
    request.nameFilters = {"Images (*.png *.jpg *.jpeg *.gif *.bmp *.webp *.tif *.tiff *.heic *.heif)"};
    request.multiple = true;
    QPointer<HelpRequestCenter> self(this);
    const std::vector<std::string> paths = prompts().openPanel(request);
    if (!self)
        return;
    for (const auto& path : paths)
        addPictureFromFile(path); // beyond the third, nothing is added
}

bool HelpRequestCenter::addDropped(const QMimeData& data)
{
    bool taken = false;
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            if (!url.isLocalFile())
                continue;
            taken = true;
            addPictureFromFile(url.toLocalFile().toStdString());
        }
    }
    if (taken)
        return true;
    // An image without a file: its encoded bytes are read with the same limits as a
    // file; an image this program made itself is taken as it is.
    for (const QString& format : data.formats()) {
        if (!format.startsWith("image/"))
            continue;
        PictureRead read = Pictures::readData(data.data(format), "Picture");
        if (!read.ok()) {
            setProblem(read.problem);
            return true;
        }
        addPicture(read.image, "Picture");
        return true;
    }
    if (data.hasImage()) {
        QImage image = qvariant_cast<QImage>(data.imageData());
        if (image.isNull())
            return false;
        addPicture(image, "Picture");
        return true;
    }
    return false;
}

void HelpRequestCenter::removePicture(const TransferredFile& picture)
{
    const auto before = draft_.size();
    std::erase_if(draft_, [&](const TransferredFile& p) { return p.id == picture.id; });
    if (draft_.size() != before)
        Q_EMIT changed();
}

std::optional<std::vector<TransferredFile>> HelpRequestCenter::attachmentsForRequest(
    const std::string& helperId, const std::optional<std::string>& requestId) const
{
    if (!active_ || !requestId)
        return std::nullopt;
    auto it = active_->sent.find(helperId);
    if (it == active_->sent.end() || it->second != *requestId || activeFiles_.empty())
        return std::nullopt;
    return activeFiles_;
}

void HelpRequestCenter::storePictures(const std::vector<TransferredFile>& pictures)
{
    // The helpers fetch the pictures from memory; the folder only brings them back after a
    // restart. A picture that can't be kept there is logged and named in `problem`.
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
    error.clear();
    std::filesystem::create_directories(folder_, error);
    std::string failure;
    if (error) {
        failure = "the folder " + folder_.string() + " couldn't be made: " + error.message();
    } else {
        for (std::size_t i = 0; i < pictures.size() && failure.empty(); ++i) {
            const auto path = folder_ / (std::to_string(i) + " " + pictures[i].name + ".jpg");
            std::ofstream out(path, std::ios::binary);
            out.write(pictures[i].data.data(), std::streamsize(pictures[i].data.size()));
            out.close();
            if (!out)
                failure = path.string() + " couldn't be written";
        }
    }
    if (failure.empty())
        return;
    Log::line("Wickerlane: the request's pictures weren't kept: " + failure);
    setProblem(kPicturesNotKept);
}

std::vector<TransferredFile> HelpRequestCenter::loadPictures() const
{
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.filename().string() < b.filename().string(); });
    std::vector<TransferredFile> pictures;
    for (const auto& entry : entries) {
        if (!std::filesystem::is_regular_file(entry, error))
            continue;
        std::ifstream in(entry, std::ios::binary);
        if (!in)
            continue;
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad())
            continue;
        // "0 my photo.jpg" is the picture "my photo".
        const std::string stem = entry.stem().string();
        std::string name = stem;
        if (auto space = stem.find(' '); space != std::string::npos)
            name = stem.substr(space + 1);
        if (name.empty())
            name = "Picture";
        pictures.push_back(TransferredFile{entry.filename().string(), name, "image/jpeg", std::move(data)});
    }
    return pictures;
}

void HelpRequestCenter::deletePictures()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

} // namespace wl
