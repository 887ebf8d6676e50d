#include "app/PictureWindow.h"

#include "host/WindowTitleRoom.h"
#include "media/Pictures.h"
#include "platform/Log.h"
#include "platform/Prompts.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace wl {

namespace {

// Draws the picture scaled to its own size (the scroll view sets it).
class PictureView final : public QWidget {
public:
    explicit PictureView(QWidget* parent) : QWidget(parent) { }
    QImage picture;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), picture);
    }
};

PictureView* viewOf(const QScrollArea& area)
{
    return static_cast<PictureView*>(area.widget());
}

} // namespace

// ---- ZoomingScrollView ----

ZoomingScrollView::ZoomingScrollView(QWidget* parent) : QScrollArea(parent)
{
    setWidget(new PictureView(this));
    setWidgetResizable(false);
    setAlignment(Qt::AlignCenter);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::Base, Qt::black);
    setPalette(palette);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    viewport()->setAutoFillBackground(true);
    viewport()->setPalette(palette);
    setFocusPolicy(Qt::StrongFocus);
}

void ZoomingScrollView::setPicture(const QImage& picture, const QString& accessibleName)
{
    picture_ = picture;
    PictureView* view = viewOf(*this);
    view->picture = picture;
    view->setAccessibleName(accessibleName);
    setMagnification(magnification_);
}

void ZoomingScrollView::setMagnification(double magnification)
{
    magnification_ = std::clamp(magnification, kMinimumMagnification, largest_);
    const QSize size(std::max(1, static_cast<int>(std::lround(picture_.width() * magnification_))),
                     std::max(1, static_cast<int>(std::lround(picture_.height() * magnification_))));
    // Keep the middle of what is seen in the middle.
    const double cx = horizontalScrollBar()->maximum() > 0
        ? (horizontalScrollBar()->value() + viewport()->width() / 2.0) / std::max(1, widget()->width())
        : 0.5;
    const double cy = verticalScrollBar()->maximum() > 0
        ? (verticalScrollBar()->value() + viewport()->height() / 2.0) / std::max(1, widget()->height())
        : 0.5;
    widget()->resize(size);
    horizontalScrollBar()->setValue(static_cast<int>(cx * size.width() - viewport()->width() / 2.0));
    verticalScrollBar()->setValue(static_cast<int>(cy * size.height() - viewport()->height() / 2.0));
}

void ZoomingScrollView::magnifyToFit()
{
    if (picture_.isNull())
        return;
    const QSize area = maximumViewportSize();
    const double fit = std::min(area.width() / double(picture_.width()), area.height() / double(picture_.height()));
    largest_ = std::max(kMaximumMagnification, fit);
    setMagnification(fit);
}

bool ZoomingScrollView::performKeyEquivalent(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier) & Qt::KeyboardModifierMask;
    if (modifiers != Qt::ControlModifier)
        return false;
    switch (event.key()) {
    case Qt::Key_Equal:
    case Qt::Key_Plus: setMagnification(magnification_ * kStep); return true;
    case Qt::Key_Minus: setMagnification(magnification_ / kStep); return true;
    case Qt::Key_0: magnifyToFit(); return true;
    default: return false;
    }
}

bool ZoomingScrollView::event(QEvent* event)
{
    // Claim the zoom keys before any shortcut of the window does.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers =
            key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier) & Qt::KeyboardModifierMask;
        if (modifiers == Qt::ControlModifier &&
            (key->key() == Qt::Key_Equal || key->key() == Qt::Key_Plus || key->key() == Qt::Key_Minus ||
             key->key() == Qt::Key_0)) {
            event->accept();
            return true;
        }
    }
    return QScrollArea::event(event);
}

void ZoomingScrollView::keyPressEvent(QKeyEvent* event)
{
    if (performKeyEquivalent(*event)) {
        event->accept();
        return;
    }
    QScrollArea::keyPressEvent(event);
}

// ---- PictureWindowController ----

std::vector<QPointer<PictureWindowController>>& openPictureWindows()
{
    static std::vector<QPointer<PictureWindowController>> windows;
    return windows;
}

QImage PictureWindowController::decode(const std::string& data)
{
    const QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
    return Pictures::readData(bytes, {}).image;
}

PictureWindowController* PictureWindowController::show(const TransferredFile& file, const QString& title,
                                                       Prompts& prompts, QSize shownAt)
{
    const QImage picture = decode(file.data);
    if (picture.isNull())
        return nullptr;
    auto* window = new PictureWindowController(picture, file, title, prompts, shownAt);
    openPictureWindows().emplace_back(window);
    window->QWidget::show();
    window->raise();
    window->activateWindow();
    window->scrollView().magnifyToFit();
    return window;
}

PictureWindowController::PictureWindowController(const QImage& picture, const TransferredFile& file,
                                                 const QString& title, Prompts& prompts, QSize shownAt)
    : QWidget(nullptr, Qt::Window), scrollView_(new ZoomingScrollView(this)), file_(file), prompts_(prompts)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollView_);
    scrollView_->setPicture(picture, title);

    // One point per pixel, or as large as it was shown where it was opened from (a small
    // picture never looks smaller than it did there), each side at most 85 % of the
    // screen's free area.
    QSize bound(1224, 765);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        bound = QSize(static_cast<int>(area.width() * 0.85), static_cast<int>(area.height() * 0.85));
    }
    QSize wanted = picture.size();
    if (shownAt.isValid() && (shownAt.width() > wanted.width() || shownAt.height() > wanted.height()))
        wanted = wanted.scaled(shownAt, Qt::KeepAspectRatioByExpanding);
    // A small picture still gets a window wide enough for its whole title.
    const QSize size = wanted.boundedTo(bound);
    resize(std::min(std::max(size.width(), widthForWindowTitle(title)), bound.width()), size.height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto* saveKey = new QShortcut(QKeySequence::Save, this);
    connect(saveKey, &QShortcut::activated, this, &PictureWindowController::save);
    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
}

PictureWindowController::~PictureWindowController()
{
    auto& windows = openPictureWindows();
    windows.erase(std::remove_if(windows.begin(), windows.end(), [this](const auto& w) { return !w || w == this; }),
                  windows.end());
}

void PictureWindowController::closeEvent(QCloseEvent* event)
{
    auto& windows = openPictureWindows();
    windows.erase(std::remove_if(windows.begin(), windows.end(), [this](const auto& w) { return !w || w == this; }),
                  windows.end());
    event->accept();
}

void PictureWindowController::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("Save\u2026"), this, &PictureWindowController::save);
    menu.exec(event->globalPos());
}

void PictureWindowController::save()
{
    savePicture(file_, prompts_);
}

// ---- saving ----

std::string proposedPictureFileName(const std::string& name)
{
    QString clean;
    for (QChar c : QString::fromStdString(name)) {
        if (c == QLatin1Char('/') || c == QChar(0) || c.category() == QChar::Other_Control ||
            c.category() == QChar::Other_Format || c == QChar(0x2028) || c == QChar(0x2029))
            continue;
        clean += c;
    }
    clean = clean.trimmed();
    while (clean.startsWith(QLatin1Char('.')))
        clean.remove(0, 1);
    clean = clean.trimmed();
    QByteArray bytes = clean.toUtf8();
    constexpr qsizetype kLimit = 200;
    if (bytes.size() > kLimit) {
        qsizetype cut = kLimit;
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
            --cut; // not inside a character
        bytes.truncate(cut);
    }
    std::string result = bytes.toStdString();
    if (result.empty())
        result = "Picture";
    return result + ".jpg";
}

PictureSaveResult writePictureAs(const TransferredFile& file, Prompts& prompts)
{
    PictureSaveResult result;
    SavePanelRequest request;
    request.title = "Save Picture";
    request.suggestedName = proposedPictureFileName(file.name);
    request.nameFilters = {"JPEG images (*.jpg *.jpeg)"};
    const auto path = prompts.savePanel(request);
    if (!path || path->empty())
        return result;
    result.path = *path;
    QSaveFile out(QString::fromStdString(*path));
    QString error;
    if (!out.open(QIODevice::WriteOnly))
        error = out.errorString();
    else if (out.write(file.data.data(), static_cast<qint64>(file.data.size())) !=
             static_cast<qint64>(file.data.size()))
        error = out.errorString();
    if (error.isEmpty() && !out.commit())
        error = out.errorString();
    if (error.isEmpty()) {
        result.outcome = PictureSaveResult::Outcome::saved;
        return result;
    }
    out.cancelWriting();
    Log::line("Wickerlane: couldn't save the picture to " + *path + ": " + error.toStdString());
    result.outcome = PictureSaveResult::Outcome::failed;
    result.error = error.toStdString();
    return result;
}

bool savePicture(const TransferredFile& file, Prompts& prompts)
{
    const PictureSaveResult result = writePictureAs(file, prompts);
    if (result.outcome != PictureSaveResult::Outcome::failed)
        return result.outcome == PictureSaveResult::Outcome::saved;
    AlertRequest alert;
    alert.title = "The picture wasn't saved";
    alert.informativeText = "It couldn't be written to " + result.path + ": " + result.error;
    alert.style = AlertRequest::Style::warning;
    prompts.alert(alert);
    return false;
}

} // namespace wl
