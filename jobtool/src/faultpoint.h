// Places in the commands where the tests make memory run out: a command must
// then say so, exit 1 and keep (and name) the documents it has written.
#pragma once

#include <functional>

namespace jobtool
{

// Called with the place's name; a test sets it to throw std::bad_alloc.
extern std::function<void(const char *where)> g_faultPoint;

inline void FaultPoint(const char *where)
{
    if (g_faultPoint)
    {
        g_faultPoint(where);
    }
}

} // namespace jobtool
