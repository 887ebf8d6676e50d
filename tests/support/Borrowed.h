#pragma once
// A shared pointer to an object the test keeps itself (a member of its rig), for the
// platform record, which holds its backends shared. It owns nothing: the object must
// outlive every copy.
#include <memory>

namespace wl::test {

template <class T>
std::shared_ptr<T> borrowed(T& object)
{
    return std::shared_ptr<T>(std::shared_ptr<T>{}, &object);
}

} // namespace wl::test
