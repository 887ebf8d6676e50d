#pragma once
// The card beside a suggested click: "<name> suggests clicking here" with a close
// button, and the two answers "Let <name> do it this time" and "Let <name> do it
// always", on a rounded rectangle in the guide colour. It only calls its actions; the
// overlay controller places it and decides what they do.

#include "style/Widgets.h"

#include <QWidget>

#include <functional>
#include <string>

class QAbstractButton;
class QLabel;

namespace wl {

class SuggestionCard final : public FloatingPanel {
    Q_OBJECT
public:
    static constexpr double kRadius = 14;
    struct Actions {
        std::function<void()> doThisTime;
        std::function<void()> doAlways;
        std::function<void()> dismiss;
    };

    SuggestionCard(const std::string& helperName, Actions actions, QWidget* parent = nullptr);

    QLabel* title() const { return title_; }
    QAbstractButton* closeButton() const { return close_; }
    QAbstractButton* thisTimeButton() const { return thisTime_; }
    QAbstractButton* alwaysButton() const { return always_; }

private:
    Actions actions_;
    QLabel* title_ = nullptr;
    QAbstractButton* close_ = nullptr;
    QAbstractButton* thisTime_ = nullptr;
    QAbstractButton* always_ = nullptr;
};

} // namespace wl
