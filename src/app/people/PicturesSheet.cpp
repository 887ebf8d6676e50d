#include "app/people/PicturesSheet.h"

#include "platform/Required.h"

#include "app/PictureWindow.h"
#include "style/Palette.h"
#include "style/Widgets.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace wl {

namespace {

constexpr const char* kDot = " \u00b7 ";
// Tiles draw a copy no wider than the sheet's list; the bytes stay as they came.
constexpr int kTileWidth = 820;

// The picture as a button: scaled to the tile's width (a small picture too), its aspect
// kept, centred in the space it gets, with rounded corners.
class PictureButton final : public QAbstractButton {
public:
    PictureButton(QImage picture, QWidget* parent) : QAbstractButton(parent), picture_(std::move(picture))
    {
        setCursor(Qt::PointingHandCursor);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        if (picture_.isNull() || picture_.width() == 0)
            return 0;
        return std::max(1, qRound(double(picture_.height()) * width / picture_.width()));
    }
    QSize sizeHint() const override { return {kTileWidth, heightForWidth(kTileWidth)}; }
    QSize minimumSizeHint() const override { return {40, 20}; }
    // The size the picture is drawn at.
    QSizeF shownSize() const { return QSizeF(picture_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (picture_.isNull())
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF shown = shownSize();
        const QRectF area(QPointF((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
        QPainterPath clip;
        clip.addRoundedRect(area, 8, 8);
        p.setClipPath(clip);
        p.drawImage(area, picture_);
        if (isDown())
            p.fillPath(clip, withOpacity(Qt::black, 0.2));
    }

private:
    QImage picture_;
};

} // namespace

std::string picturesSheetSubtitle(const StoredMessage& request)
{
    std::string subtitle;
    if (request.content.topic)
        subtitle = shownText(*request.content.topic, kShownTopicLength);
    if (request.content.text) {
        if (!subtitle.empty() || request.content.topic)
            subtitle += kDot;
        subtitle += "\u201c" + shownText(*request.content.text, kShownLineLength) + "\u201d";
    }
    return subtitle;
}

QString pictureWindowTitle(const StoredMessage& request, const TransferredFile& file)
{
    return QString::fromStdString(shownName(request.peerName) + kDot + shownText(file.name, kShownTopicLength));
}

PicturesSheet::PicturesSheet(StoredMessage request, std::vector<TransferredFile> files, std::function<void()> onClose,
                             Options options, QWidget* parent)
    : QDialog(parent), request_(std::move(request)), files_(std::move(files)), onClose_(std::move(onClose)),
      options_(std::move(options))
{
    required(options_.prompts, "PicturesSheet", "prompts");
    setObjectName(QStringLiteral("picturesSheet"));
    setWindowTitle(QString::fromStdString("From " + shownName(request_.peerName)));
    setWindowModality(Qt::WindowModal);
    setFixedSize(kWidth, kHeight);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(14);

    auto* header = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title =
        plainLabel("From " + shownName(request_.peerName), TextStyle::title2, primaryText(), this, false, QFont::Bold);
    title->setObjectName(QStringLiteral("sheetTitle"));
    texts->addWidget(title);
    auto* subtitle = plainLabel(picturesSheetSubtitle(request_), TextStyle::body, secondaryText(), this);
    subtitle->setObjectName(QStringLiteral("sheetSubtitle"));
    subtitle->setMinimumHeight(subtitle->fontMetrics().height());
    texts->addWidget(subtitle);
    header->addLayout(texts, 1);
    problem_ = plainLabel("", TextStyle::callout, askingAccent(), this, false, QFont::DemiBold);
    problem_->setObjectName(QStringLiteral("sheetProblem"));
    problem_->hide();
    header->addWidget(problem_, 0, Qt::AlignVCenter);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    close->setAutoDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(close, 0, Qt::AlignVCenter);
    stack->addLayout(header);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("sheetPictures"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* list = new QWidget;
    auto* tiles = new QVBoxLayout(list);
    tiles->setContentsMargins(0, 0, 0, 0);
    tiles->setSpacing(16);
    for (const auto& file : files_)
        tiles->addWidget(makeTile(file, list));
    tiles->addStretch(1);
    scroll->setWidget(list);
    stack->addWidget(scroll, 1);
    close->setFocus();
}

QWidget* PicturesSheet::makeTile(const TransferredFile& file, QWidget* parent)
{
    auto* tile = new QWidget(parent);
    tile->setObjectName(QStringLiteral("pictureTile"));
    tile->setProperty("fileId", QString::fromStdString(file.id));
    auto* stack = new QVBoxLayout(tile);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);

    // Decoded within the limits; a large picture is kept as a smaller copy for the tile.
    // It opens larger at least as large as the tile draws it (a small picture is drawn
    // across the tile's width).
    QImage picture = PictureWindowController::decode(file.data);
    std::function<QSize()> shownAt = [] { return QSize(); };
    if (!picture.isNull()) {
        if (picture.width() > kTileWidth)
            picture = picture.scaledToWidth(kTileWidth, Qt::SmoothTransformation);
        auto* button = new PictureButton(std::move(picture), tile);
        button->setObjectName(QStringLiteral("pictureButton"));
        button->setToolTip(QStringLiteral("Open larger"));
        button->setAccessibleName(QString::fromStdString(shownText(file.name, kShownTopicLength) + ", open larger"));
        shownAt = [button] { return button->shownSize().toSize(); };
        connect(button, &QAbstractButton::clicked, this, [this, file, shownAt] { openLarger(file, shownAt()); });
        stack->addWidget(button);
    }

    auto* row = new QHBoxLayout;
    auto* name = plainLabel(shownText(file.name, kShownTopicLength), TextStyle::caption, secondaryText(), tile);
    name->setObjectName(QStringLiteral("pictureName"));
    row->addWidget(name, 1);
    auto* larger = new QPushButton(QStringLiteral("Open Larger"), tile);
    larger->setObjectName(QStringLiteral("openLarger"));
    larger->setFont(textFont(TextStyle::caption));
    larger->setAutoDefault(false);
    connect(larger, &QPushButton::clicked, this, [this, file, shownAt] { openLarger(file, shownAt()); });
    row->addWidget(larger);
    auto* save = new QPushButton(QStringLiteral("Save\u2026"), tile);
    save->setObjectName(QStringLiteral("savePicture"));
    save->setFont(textFont(TextStyle::caption));
    save->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, [this, file] { savePicture(file); });
    row->addWidget(save);
    stack->addLayout(row);
    return tile;
}

void PicturesSheet::openLarger(const TransferredFile& file, QSize shownAt)
{
    const QString title = pictureWindowTitle(request_, file);
    if (options_.openPicture)
        options_.openPicture(file, title, shownAt);
    else
        PictureWindowController::show(file, title, *options_.prompts, shownAt);
}

void PicturesSheet::savePicture(const TransferredFile& file)
{
    Prompts& prompts = *options_.prompts;
    const PictureSaveResult result = writePictureAs(file, prompts);
    if (result.outcome == PictureSaveResult::Outcome::failed) {
        problem_->setText(QString::fromLatin1(kSaveFailed));
        problem_->show();
    } else if (result.outcome == PictureSaveResult::Outcome::saved) {
        problem_->clear();
        problem_->hide();
    }
}

QString PicturesSheet::problemText() const
{
    return problem_->text();
}

void PicturesSheet::done(int result)
{
    // However the sheet goes away, the request's pictures are no longer shown.
    if (!closed_) {
        closed_ = true;
        if (auto close = onClose_)
            close();
    }
    QDialog::done(result);
}

} // namespace wl
