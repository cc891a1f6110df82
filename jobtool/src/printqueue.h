// A real print queue out: a complete spooler document goes to a CUPS queue
// as raw data (the lp client with -o raw), so that the printer receives it
// byte for byte as the hook sent it.
#pragma once

#include <string>

namespace jobtool
{

struct QueueTarget
{
    std::string queue;  // the queue's name
    std::string server; // host[:port] of the scheduler; empty: the user's default
};

struct QueuedJob
{
    bool ok = false;
    std::string jobId; // as the scheduler names it: "QUEUE-123"
    std::string error; // why the document was not queued
};

// Empty when the name can be a queue's; else why not.
std::string CheckQueueName(const std::string &queue);

// Sends the file whole, as one job titled `title`, and returns the job's id.
QueuedJob SendToQueue(const QueueTarget &target, const std::string &file, const std::string &title);

// The job id in what lp printed ("request id is Q-12 (1 file(s))"); empty
// when it names none for this queue.
std::string JobIdFromLp(const std::string &output, const std::string &queue);

} // namespace jobtool
