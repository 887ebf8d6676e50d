#include "host/HelpRequestCenter.h"

#include "host/HostController.h"
#include "host/SessionHistory.h"

#include "platform/Log.h"
#include "platform/Prompts.h"

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTime>
#include <QUrl>
#include <QUuid>
#include <QApplication>
#include <QWidget>

#include <set>

namespace wl {

HelpRequestCenter::HelpRequestCenter(Messenger& messenger, std::function<std::vector<PairedDevice>()> helpers,
                                     QObject* parent)
    : QObject(parent), messenger_(messenger), helpers_(std::move(helpers))
{
}

void HelpRequestCenter::setActive(Active active, std::vector<TransferredFile> pictures)
{
    active_ = std::move(active);
    pictures_ = std::move(pictures);
    Q_EMIT changed();
}

void HelpRequestCenter::clearActive()
{
    if (!active_ && pictures_.empty())
        return;
    active_.reset();
    pictures_.clear();
    Q_EMIT changed();
}

std::optional<std::vector<TransferredFile>> HelpRequestCenter::attachmentsForRequest(const std::string& helperId,
                                                                                     const std::string& requestId) const
{
    if (!active_ || pictures_.empty())
        return std::nullopt;
    auto it = active_->sent.find(helperId);
    if (it == active_->sent.end() || it->second != requestId)
        return std::nullopt;
    return pictures_;
}

void HelpRequestCenter::handle(const StoredMessage& cancel)
{
    if (!active_ || cancel.outgoing || cancel.content.kind != MailContent::Kind::cancel || !cancel.content.replyTo)
        return;
    auto it = active_->sent.find(cancel.peerId);
    if (it == active_->sent.end() || it->second != *cancel.content.replyTo)
        return;
    clearActive();
}

void HelpRequestCenter::cancel()
{
    if (!active_)
        return;
    const auto sent = active_->sent;
    appendSessionHistory("Cancelled the help request");
    problem_.reset();
    clearActive();
    const auto paired = helpers();
    for (const auto& [helperId, messageId] : sent) {
        for (const auto& helper : paired) {
            if (helper.id != helperId)
                continue;
            MailContent content;
            content.kind = MailContent::Kind::cancel;
            content.replyTo = messageId;
            content.sentAt = messenger_.now();
            QPointer<HelpRequestCenter> self(this);
            messenger_.send(content, helper, [self, name = helper.name](Messenger::SendResult result) {
                if (result.ok())
                    return;
                const std::string why = Messenger::sendErrorText(*result.error);
                Log::line("Wickerlane: the help request couldn't be withdrawn from " + name + ": " + why);
                if (self)
                    self->setProblem("Couldn't tell " + name + " the request was cancelled. " + why);
            });
            break;
        }
    }
}

std::vector<StoredMessage> HelpRequestCenter::replies() const
{
    std::vector<StoredMessage> result;
    if (!active_)
        return result;
    std::set<std::string> ids;
    for (const auto& [helperId, messageId] : active_->sent)
        ids.insert(messageId);
    for (const auto& message : messenger_.messages())
        if (!message.outgoing && message.content.kind == MailContent::Kind::reply && message.content.replyTo &&
            ids.count(*message.content.replyTo))
            result.push_back(message);
    return result;
}

std::string HelpRequestCenter::helperNamesText() const
{
    std::vector<std::string> names;
    for (const auto& helper : helpers())
        names.push_back(HostController::firstWord(helper.name));
    if (names.empty())
        return "your helper";
    if (names.size() == 1)
        return names.front();
    std::string text;
    for (std::size_t i = 0; i + 1 < names.size(); ++i)
        text += (i ? ", " : "") + names[i];
    return text + " and " + names.back();
}

namespace {

constexpr int kReadAllocationLimitMiB = 160;
constexpr qint64 kReadMaximumPixels = 40'000'000;
constexpr qint64 kReadMaximumFileBytes = 40 * 1024 * 1024;

// Decodes within the limits: refuses what would take more than the allocation limit or
// more pixels than the limit allows, before decoding it.
QImage readLimited(QImageReader& reader)
{
    reader.setAllocationLimit(kReadAllocationLimitMiB);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > kReadMaximumPixels)
        return {};
    return reader.read();
}

std::string trimmed(const std::string& text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

} // namespace

struct HelpRequestCenter::Sending {
    std::vector<PairedDevice> helpers;
    std::size_t next = 0;
    MailContent content;
    Active active;
    std::optional<Messenger::SendError> lastError;
};

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

void HelpRequestCenter::send(std::optional<HelpTopic> topic, const std::string& note)
{
    if (sending_)
        return;
    const auto paired = helpers();
    if (paired.empty()) {
        setProblem("No helpers are paired with this Mac yet.");
        return;
    }
    auto sending = std::make_shared<Sending>();
    sending->helpers = paired;
    MailContent& content = sending->content;
    content.kind = MailContent::Kind::helpRequest;
    content.sentAt = messenger_.now();
    if (auto text = trimmed(note); !text.empty())
        content.text = text;
    if (topic)
        content.topic = rawValue(*topic);
    if (!draft_.empty())
        content.attachments = static_cast<int>(draft_.size());
    sending->active.topic = content.topic;
    sending->active.note = content.text;
    sending->active.sentAt = content.sentAt;
    sending->active.attachments = content.attachments.value_or(0);
    problem_.reset();
    sending_ = true;
    Q_EMIT changed();
    sendNext(sending);
}

void HelpRequestCenter::sendNext(std::shared_ptr<Sending> sending)
{
    if (sending->next < sending->helpers.size()) {
        const PairedDevice helper = sending->helpers[sending->next++];
        QPointer<HelpRequestCenter> self(this);
        messenger_.send(sending->content, helper, [self, sending, helper](Messenger::SendResult result) {
            if (!self)
                return;
            if (result.ok()) {
                sending->active.sent[helper.id] = result.message->id;
                sending->active.helperNames.push_back(helper.name);
            } else {
                sending->lastError = result.error;
                Log::line("Wickerlane: the help request didn't reach " + helper.name + ": " +
                          Messenger::sendErrorText(*result.error));
            }
            self->sendNext(sending);
        });
        return;
    }
    sending_ = false;
    if (sending->active.sent.empty()) {
        problem_ = sending->lastError ? Messenger::sendErrorText(*sending->lastError) : "The request wasn't sent.";
        Q_EMIT changed();
        return;
    }
    appendSessionHistory("Asked for help");
    auto pictures = std::move(draft_);
    draft_.clear();
    setActive(std::move(sending->active), std::move(pictures));
    if (onSent)
        onSent();
}

std::vector<StoredMessage> HelpRequestCenter::passwordReplies() const
{
    std::vector<StoredMessage> result;
    if (!active_)
        return result;
    std::set<std::string> ids;
    for (const auto& [helperId, messageId] : active_->sent)
        ids.insert(messageId);
    for (const auto& message : messenger_.messages())
        if (!message.outgoing && message.content.kind == MailContent::Kind::password && message.content.replyTo &&
            ids.count(*message.content.replyTo))
            result.push_back(message);
    return result;
}

void HelpRequestCenter::addPicture(const QImage& image, const std::string& name)
{
    if (draft_.size() >= kMaxPictures || image.isNull())
        return;
    QImage picture =
        image.width() > kPictureWidth ? image.scaledToWidth(kPictureWidth, Qt::SmoothTransformation) : image;
    if (picture.hasAlphaChannel()) {
        QImage flat(picture.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, picture);
        painter.end();
        picture = flat;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "JPEG", kPictureQuality))
        return;
    TransferredFile file;
    file.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    file.name = name;
    file.type = "image/jpeg";
    file.data = bytes.toStdString();
    draft_.push_back(std::move(file));
    Q_EMIT changed();
}

void HelpRequestCenter::addPictureFromFile(const std::string& path)
{
    const QFileInfo info(QString::fromStdString(path));
    if (!info.isFile() || info.size() > kReadMaximumFileBytes)
        return;
    QImageReader reader(info.filePath());
    const QImage image = readLimited(reader);
    if (!image.isNull())
        addPicture(image, info.completeBaseName().toStdString());
}

bool HelpRequestCenter::addDropped(const QMimeData& data)
{
    bool took = false;
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            if (!url.isLocalFile())
                continue;
            took = true;
            addPictureFromFile(url.toLocalFile().toStdString());
        }
    }
    if (took)
        return true;
    // Image bytes from another program are decoded here, within the limits; a picture
    // made in this process comes as an image already.
    bool offered = false;
    for (const QString& format : data.formats()) {
        if (!format.startsWith(QLatin1String("image/")))
            continue;
        offered = true;
        const QByteArray bytes = data.data(format);
        if (bytes.isEmpty() || bytes.size() > kReadMaximumFileBytes)
            continue;
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        const QImage image = readLimited(reader);
        if (image.isNull())
            continue;
        addPicture(image, "Picture");
        return true;
    }
    if (offered)
        return true; // taken, and left out: it isn't a picture within the limits
    if (data.hasImage()) {
        addPicture(qvariant_cast<QImage>(data.imageData()), "Picture");
        return true;
    }
    return false;
}

void HelpRequestCenter::removePicture(const TransferredFile& picture)
{
    const auto before = draft_.size();
    std::erase_if(draft_, [&](const TransferredFile& file) { return file.id == picture.id; });
    if (draft_.size() != before)
        Q_EMIT changed();
}

void HelpRequestCenter::choosePictures()
{
    if (draft_.size() >= kMaxPictures)
        return;
    OpenPanelRequest request;
    request.title = "Choose up to " + std::to_string(kMaxPictures - draft_.size()) + " pictures to show";
    request.nameFilters = {"Pictures (*.png *.jpg *.jpeg *.gif *.bmp *.webp *.heic *.tif *.tiff)"};
    request.multiple = true;
    for (const auto& path : Prompts::standard().openPanel(request))
        addPictureFromFile(path);
}

void HelpRequestCenter::takeScreenshot()
{
    if (draft_.size() >= kMaxPictures)
        return;
    QScreen* screen = QGuiApplication::primaryScreen();
    QImage shot = screen ? screen->grabWindow(0).toImage() : QImage();
    if (shot.isNull()) {
        Log::line("Wickerlane: the screenshot failed: the screen can't be read");
        setProblem("Couldn't take a screenshot. Is Screen Recording allowed for Wickerlane?");
        return;
    }
    // This program's own windows are left out of the picture.
    QPainter painter(&shot);
    const QPoint origin = screen->geometry().topLeft();
    const qreal ratio = shot.devicePixelRatio();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible())
            painter.fillRect(QRectF(QRectF(window->frameGeometry().translated(-origin)).topLeft() * ratio,
                                    QSizeF(window->frameGeometry().size()) * ratio),
                             Qt::black);
    painter.end();
    addPicture(shot, "Screenshot " + QTime::currentTime().toString(QStringLiteral("HH:mm")).toStdString());
}

} // namespace wl
