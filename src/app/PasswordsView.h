#pragma once
// The content of the "Passwords" panel: a card for every password another computer sent
// here (kept sealed; copied or shown after the owner check) and a row for every password
// sent from here in the last day, with what became of it. One clock ticks every second
// while the view is on screen; each tick redraws the countdowns with the new time. The
// list scrolls when the cards and rows need more height than the panel has.

#include "mail/StoredMessage.h"
#include "platform/OneShotTimer.h"
#include "protocol/Date.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QShortcut;
class QVBoxLayout;

namespace wl {

class PasswordCenter;
class RoundedBox;

// How long from `now` until `end`: whole seconds up to 59 ("0 s" … "59 s"), then minutes
// rounded up ("1 min" for 60 s, "2 min" for 61 s).
std::string timeLeftText(Date end, Date now);

class ReceivedPasswordCard final : public QWidget {
    Q_OBJECT
public:
    static constexpr double kShownFor = 30; // seconds a revealed secret stays on screen
    static constexpr double kCopiedNoteFor = 60;

    ReceivedPasswordCard(PasswordCenter& center, const StoredMessage& message, Date now, TimerFactory copyTimers,
                         QWidget* parent = nullptr);

    // The message as the centre has it now, and the clock's time of this draw.
    void refresh(const StoredMessage& message, Date now);
    void setDefaultAction(bool isDefault);
    void setCopyTimers(TimerFactory timers) { copyTimers_ = std::move(timers); }
    void tick(Date now) { refresh(message_, now); }

    bool isRevealed() const;
    const std::optional<std::string>& problem() const { return problem_; }

    // The card's three buttons: Copy, Show and Hide.
    void copy();
    void showSecret();
    void hideSecret();

private:
    std::string reason(const std::string& verb) const;
    void redraw();

    QPointer<PasswordCenter> center_;
    StoredMessage message_;
    Date now_;
    TimerFactory copyTimers_;
    std::optional<std::string> revealed_;
    std::optional<Date> revealedAt_;
    std::optional<Date> copied_;
    std::optional<std::string> problem_;

    QLabel* title_;
    QLabel* from_;
    QLabel* secret_;
    QLabel* copiedNote_;
    QLabel* problemLine_;
    QPushButton* copyButton_;
    QPushButton* showButton_;
    std::vector<QShortcut*> returnKeys_;
};

// One row of the SENT list: a password sent from here, what became of it, and Unsend
// while that still makes sense. A row lives as long as its password is listed; each
// draw updates its texts and button in place, so a press or a tooltip spans the clock's
// ticks.
class SentPasswordRow final : public QWidget {
    Q_OBJECT
public:
    SentPasswordRow(PasswordCenter& center, const StoredMessage& message, Date now, QWidget* parent = nullptr);

    // The message as the centre has it now, and the clock's time of this draw.
    void refresh(const StoredMessage& message, Date now);
    void tick(Date now) { refresh(message_, now); }
    void unsend();

private:
    QPointer<PasswordCenter> center_;
    StoredMessage message_;
    Date now_;
    std::optional<std::string> problem_;

    QVBoxLayout* texts_;
    QHBoxLayout* layout_;
    QLabel* title_;
    QLabel* status_;
    QLabel* problemLine_ = nullptr;
    QPushButton* unsendButton_ = nullptr;
};

class PasswordsView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 400;
    static constexpr int kMinimumHeight = 300;
    static constexpr int kMaximumHeight = 600;

    explicit PasswordsView(PasswordCenter& center, QWidget* parent = nullptr);

    // Where the copy's clear is scheduled (when empty, the clear never comes).
    void setCopyTimers(TimerFactory timers);
    // One step of the clock: takes the current time and updates the texts of the cards
    // and rows shown (which cards and rows there are changes only with the centre).
    void tick();
    Date now() const { return now_; }
    ReceivedPasswordCard* card(const std::string& id) const;
    SentPasswordRow* row(const std::string& id) const;

    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void redraw();

    QPointer<PasswordCenter> center_;
    Date now_;
    TimerFactory copyTimers_;
    QTimer clock_;
    QScrollArea* scroll_;
    QWidget* content_;
    QVBoxLayout* list_;
    std::map<std::string, QPointer<ReceivedPasswordCard>> cards_;
    std::map<std::string, QPointer<SentPasswordRow>> rows_;
    QPointer<QLabel> emptyText_;
    QPointer<QLabel> sentHeader_;
};

} // namespace wl
