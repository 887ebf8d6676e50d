#include "app/ConcealedCopy.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>

#include <map>
#include <memory>

namespace wl {

namespace {

// The pending clears, by serial. Made once and never destroyed: a clear waits in its
// timer, which has to live somewhere until it fires.
std::map<int, std::unique_ptr<OneShotTimer>>& pendingClears()
{
    static auto* pending = new std::map<int, std::unique_ptr<OneShotTimer>>;
    return *pending;
}

// The deferred check of copyConcealed: clears only while the clipboard still holds the
// data that copy put there and this program still owns it.
void clearConcealedIfUnchanged(const QPointer<QMimeData>& copied)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard || !copied)
        return; // replaced since: Qt deleted the data it held
    if (!clipboard->ownsClipboard() || clipboard->mimeData(QClipboard::Clipboard) != copied.data())
        return;
    clipboard->clear(QClipboard::Clipboard);
}

} // namespace

void copyConcealed(const std::string& text, TimerFactory timers)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(text));
    data->setData(QString::fromLatin1(kPasswordManagerHintType), QByteArrayLiteral("secret"));
    QPointer<QMimeData> copied(data);
    clipboard->setMimeData(data, QClipboard::Clipboard); // the clipboard owns it now

    static int serial = 0;
    const int id = ++serial;
    auto timer = requiredTimers(std::move(timers), "copyConcealed")(
        std::chrono::duration_cast<std::chrono::milliseconds>(kConcealedCopyLifetime), [id, copied] {
            clearConcealedIfUnchanged(copied);
            pendingClears().erase(id);
        });
    if (timer)
        pendingClears()[id] = std::move(timer);
}

} // namespace wl
