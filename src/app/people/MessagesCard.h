#pragma once
// The card near the bottom of the people list with the last plain messages exchanged
// with paired Macs: who it was from or to, its text, its age, and Reply on the ones
// this Mac received. With no messages it draws nothing.

#include "mail/StoredMessage.h"
#include "protocol/Date.h"

#include <QWidget>

#include <string>
#include <vector>

namespace wl {

class PeopleView;

struct MessageRowModel {
    StoredMessage message;
    std::string correspondent; // "To " and the name for one sent, the name alone for one received
    std::string text;
    std::string age;
    bool canReply = false;
    bool operator==(const MessageRowModel&) const = default;
};

std::vector<MessageRowModel> messagesCardModel(const std::vector<StoredMessage>& messages, Date now);

class MessagesCard final : public QWidget {
    Q_OBJECT
public:
    MessagesCard(PeopleView& view, std::vector<MessageRowModel> rows, QWidget* parent = nullptr);
    const std::vector<MessageRowModel>& rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<MessageRowModel> rows_;
};

} // namespace wl
