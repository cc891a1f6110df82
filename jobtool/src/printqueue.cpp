#include "printqueue.h"

#include "convert.h"
#include "programs.h"

#include <cctype>
#include <filesystem>

namespace jobtool
{

namespace
{

std::string Absolute(const std::string &path)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

} // namespace

std::string CheckQueueName(const std::string &queue)
{
    // The scheduler's own rule: printable characters but space, tab, '/',
    // '\' and '#', at most 127 bytes. A leading '-' would read as an option.
    if (queue.empty())
    {
        return "the queue needs a name";
    }
    if (queue.size() > 127)
    {
        return "a queue name has at most 127 bytes";
    }
    if (queue[0] == '-')
    {
        return "a queue name does not begin with '-'";
    }
    for (char c : queue)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7F || c == '/' || c == '\\' || c == '#')
        {
            return "a queue name has no spaces, control characters, '/', '\\' or '#'";
        }
    }
    return std::string();
}

std::string JobIdFromLp(const std::string &output, const std::string &queue)
{
    // The message is translated, but the id reads QUEUE-NUMBER in every language.
    const std::string prefix = queue + "-";
    for (size_t at = output.find(prefix); at != std::string::npos; at = output.find(prefix, at + 1))
    {
        const bool startsWord =
            at == 0 || std::isspace(static_cast<unsigned char>(output[at - 1])) || output[at - 1] == '"';
        size_t end = at + prefix.size();
        while (end < output.size() && std::isdigit(static_cast<unsigned char>(output[end])))
        {
            end++;
        }
        const bool endsWord = end == output.size() || !std::isalnum(static_cast<unsigned char>(output[end]));
        if (startsWord && end > at + prefix.size() && endsWord)
        {
            return output.substr(at, end - at);
        }
    }
    return std::string();
}

QueuedJob SendToQueue(const QueueTarget &target, const std::string &file, const std::string &title)
{
    QueuedJob job;
    std::string bad = CheckQueueName(target.queue);
    if (!bad.empty())
    {
        job.error = "\"" + target.queue + "\": " + bad;
        return job;
    }
    if (!CanRunPrograms())
    {
        job.error = std::string("printing to a queue is ") + kNotOnThisBuild;
        return job;
    }
    ProgramRun lp;
    lp.argv = {"lp", "-d", target.queue, "-o", "raw", "-t", title.empty() ? std::string("jobtool") : title};
    if (!target.server.empty())
    {
        lp.argv.insert(lp.argv.begin() + 1, {"-h", target.server});
    }
    lp.argv.push_back("--");
    lp.argv.push_back(Absolute(file));
    lp.env = {{"LC_ALL", "C"}};
    ProgramResult r = RunProgram(lp);
    if (!r.Succeeded())
    {
        if (r.missing)
        {
            job.error = MissingProgram("lp", "cups-client", "printing to a queue");
        }
        else
        {
            std::string why = !r.failure.empty() ? r.failure : LastLine(r.errors.empty() ? r.output : r.errors);
            job.error = "lp did not take " + file + " for queue " + target.queue +
                        (why.empty() ? " (exit status " + std::to_string(r.exitCode) + ")" : ": " + why);
        }
        return job;
    }
    job.jobId = JobIdFromLp(r.output, target.queue);
    if (job.jobId.empty())
    {
        job.error =
            "lp took " + file + " for queue " + target.queue + " but named no job: \"" + LastLine(r.output) + "\"";
        return job;
    }
    job.ok = true;
    return job;
}

} // namespace jobtool
