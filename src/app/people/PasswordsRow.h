#pragma once
// The small card of the people list that points to the passwords waiting on this Mac:
// how many received passwords there are to copy, and "Show" for the passwords panel.

#include <QWidget>

#include <string>

namespace wl {

class PasswordCenter;

// "1 password to copy", "3 passwords to copy", or "Passwords you sent" with none.
std::string passwordsRowText(std::size_t received);

class PasswordsRow final : public QWidget {
    Q_OBJECT
public:
    PasswordsRow(PasswordCenter& passwords, std::size_t received, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace wl
