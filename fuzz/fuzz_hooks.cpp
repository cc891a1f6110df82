// libFuzzer target: each input is a short series of print jobs (see
// fuzzjob.h) run through kd7720um's hooks against the simulated spooler on
// one emulated machine, reset before every input. A broken invariant is
// reported like a crash, so libFuzzer keeps the input.
#include "fuzzjob.h"

#include <cstdio>
#include <cstdlib>

// The sanitizer runtime is a shared library in this build (the product
// libraries need it), and libFuzzer's link puts the C++ library ahead of it;
// nothing is intercepted before it, so its first-place check is moot. A
// smaller quarantine and shorter allocation stacks keep a long run's memory
// flat and its inputs fast; freed blocks are still held back long enough to
// catch a use after free within an input.
extern "C" const char *__asan_default_options()
{
    return "verify_asan_link_order=0:quarantine_size_mb=64:malloc_context_size=10";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzzjob::Harness *harness = nullptr;
    if (harness == nullptr)
    {
        harness = new fuzzjob::Harness();
        // libFuzzer ends with exit(): the emulated machine's folder goes then.
        std::atexit([] { delete harness; });
    }
    if (!harness->Ready())
    {
        std::fprintf(stderr, "fuzz harness: the emulated machine could not be prepared\n");
        std::abort();
    }
    std::vector<std::string> problems = harness->Run(data, size);
    if (!problems.empty())
    {
        for (const std::string &p : problems)
        {
            std::fprintf(stderr, "INVARIANT BROKEN: %s\n", p.c_str());
        }
        std::abort();
    }
    return 0;
}
