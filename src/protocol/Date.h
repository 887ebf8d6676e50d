#pragma once
// Dates travel as seconds since 2001-01-01T00:00:00Z, fractions allowed.

namespace wl {

using Date = double;
inline constexpr double kUnixEpochTo2001 = 978307200.0;

Date dateNow();
Date dateFromUnix(double unixSeconds);
double unixFromDate(Date date);

} // namespace wl
