#include "laterpages.h"

namespace jobtool
{

LaterPages::LaterPages(Maker make) : make_(std::move(make))
{
}

LaterPages::~LaterPages()
{
    if (thread_)
    {
        thread_->Join();
    }
}

void LaterPages::Make()
{
    int idle = 0;
    if (!state_.compare_exchange_strong(idle, 1))
    {
        return; // begun elsewhere
    }
    try
    {
        made_ = make_(&error_);
    }
    catch (...)
    {
        failure_ = std::current_exception();
    }
    state_.store(2);
}

void LaterPages::Start()
{
    if (!thread_ && state_.load() == 0)
    {
        try
        {
            // Wanted only when a map ends: the hook and the reading come first.
            thread_ = std::make_unique<spoolsim::Thread>([this] {
                spoolsim::Thread::GiveWay();
                Make();
            });
        }
        catch (const std::exception &)
        {
            // No thread to be had: the first to ask makes them.
        }
    }
}

const InputPages &LaterPages::Made(std::string *error)
{
    Make();
    while (state_.load() != 2)
    {
        Sleep(1); // no condition variables in the Windows build's threads
    }
    if (failure_)
    {
        std::rethrow_exception(failure_);
    }
    *error = error_;
    return made_;
}

} // namespace jobtool
