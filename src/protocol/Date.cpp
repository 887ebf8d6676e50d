#include "protocol/Date.h"

#include <chrono>

namespace wl {

Date dateNow()
{
    using namespace std::chrono;
    const double unixNow = duration<double>(system_clock::now().time_since_epoch()).count();
    return dateFromUnix(unixNow);
}

Date dateFromUnix(double unixSeconds)
{
    return unixSeconds - kUnixEpochTo2001;
}
double unixFromDate(Date date)
{
    return date + kUnixEpochTo2001;
}

} // namespace wl
