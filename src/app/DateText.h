#pragma once
// Dates as the program's windows and menus show them, in the user's locale.

#include "protocol/Date.h"

#include <QString>

namespace wl {

// The date with an abbreviated month name, the day and the year, no time ("Mar 5, 2024").
QString abbreviatedDate(Date date);
// Hours and minutes in the locale's short style, no date ("9:41 AM", "09:41").
QString shortTime(Date date);

} // namespace wl
