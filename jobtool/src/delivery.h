// What happens to each spooler document as soon as it is complete: it is
// written to its own file (flushed to the disk and closed, so that a person
// can take it while the hook waits at its next question) and, when a print
// queue is named, sent to that queue as raw data.
#pragma once

#include "printqueue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jobtool
{

struct Delivered
{
    int number = 0;         // the document's number among the printer documents, from 1
    std::string path;       // where it was written; empty when it was not
    std::string queue;      // the queue it went to
    std::string queueJobId; // the queue's job id, when it went to a queue
    std::string error;      // why it was not written or not queued
    bool Ok() const
    {
        return error.empty();
    }
};

class Delivery
{
  public:
    // Documents go to DIR/STEM-N.pxl; to the queue too when one is given.
    Delivery(std::string dir, std::string stem, std::optional<QueueTarget> queue);

    // Writes document `number` (and queues it). The title names it in the
    // queue.
    Delivered Deliver(int number, const std::vector<uint8_t> &data, const std::string &title);
    // The same for a document already written whole to `path`: it is
    // flushed to the disk before it is handed over.
    Delivered DeliverFile(int number, const std::string &path, const std::string &title);
    const std::optional<QueueTarget> &Queue() const
    {
        return m_queue;
    }

  private:
    Delivered Queued(Delivered d, const std::string &title);

    std::string m_dir;
    std::string m_stem;
    std::optional<QueueTarget> m_queue;
};

// Writes the file whole, flushes it to the disk and closes it; false, and
// why (with the system's reason), when any of that fails. A file that was
// not written whole is removed, so that no half document waits for a
// person to print it.
bool WriteDurably(const std::string &path, const std::vector<uint8_t> &data, std::string &error);

} // namespace jobtool
