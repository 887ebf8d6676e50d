#include "app/DateText.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>

namespace wl {

namespace {
QDateTime localTime(Date date)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixFromDate(date) * 1000.0)));
}
} // namespace

QString abbreviatedDate(Date date)
{
    // The locale's long date without the weekday and with the month abbreviated.
    QLocale locale;
    QString format = locale.dateFormat(QLocale::LongFormat);
    for (const auto& weekday :
         {QStringLiteral("dddd, "), QStringLiteral("dddd "), QStringLiteral(", dddd"), QStringLiteral("dddd")})
        format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return locale.toString(localTime(date).date(), format.trimmed());
}

QString shortTime(Date date)
{
    // The locale's short time, without seconds where it has them (as the C locale does).
    QLocale locale;
    QString format = locale.timeFormat(QLocale::ShortFormat);
    for (const auto& seconds : {QStringLiteral(":ss"), QStringLiteral(".ss"), QStringLiteral(":s")})
        format.remove(seconds);
    return locale.toString(localTime(date).time(), format);
}

} // namespace wl
