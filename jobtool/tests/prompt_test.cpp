// A person at the printer: the advice between the passes, played out on a
// stack of paper, and the question on a terminal of its own.
#include "paper_support.h"

#include "prompt.h"

#include <algorithm>
#include <map>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace jobtool_test
{
namespace
{

using jobtool::StackTurn;

// A sheet of paper: the page printed on each of its sides, in the order printed.
struct Sheet
{
    std::vector<int> faces;
};

// The person follows the advice: which printed sheet goes in first, and
// where a blank sheet goes. Returns the sheets in the order the tray feeds
// them, from the sheets in the order they came out.
std::vector<int> FollowAdvice(const std::vector<std::string> &advice, std::vector<int> printedOrder, int blank,
                              std::string &why)
{
    std::string all;
    for (const std::string &a : advice)
    {
        all += a + "\n";
    }
    std::vector<int> feed;
    if (Contains(all, "in the order they came out") && Contains(all, "the one printed last"))
    {
        feed.assign(printedOrder.rbegin(), printedOrder.rend());
    }
    else if (Contains(all, "in the opposite order") && Contains(all, "the one printed first"))
    {
        feed = printedOrder;
    }
    else if (printedOrder.size() == 1)
    {
        feed = printedOrder;
    }
    else
    {
        why = "the advice does not say which sheet goes in first";
        return feed;
    }
    if (Contains(all, "add one blank sheet"))
    {
        if (Contains(all, "fed last"))
        {
            feed.push_back(blank);
        }
        else if (Contains(all, "fed first"))
        {
            feed.insert(feed.begin(), blank);
        }
        else
        {
            why = "the advice adds a sheet but does not say where";
        }
    }
    return feed;
}

// Manual duplex of n pages with the hook's passes: the first prints pages
// n', n'-2, ..., 2 (n' the highest even page); the second prints the fronts
// of the re-inserted sheets, 1, 3, ... (order 0) or from the top (order 1),
// and an odd n's last page last, on a sheet fed after the stack. At the
// end, every sheet must carry pages 2k-1 and 2k back to back.
void PlayManualDuplex(int n, int order)
{
    SCOPED_TRACE("manual duplex, " + std::to_string(n) + " pages, order " + std::to_string(order));
    StackTurn turn;
    turn.pages = n;
    turn.order = order;
    turn.firstPass = "out/doc-1.pxl";
    const std::vector<std::string> advice = jobtool::StackAdvice(turn);

    std::vector<Sheet> sheets;
    std::vector<int> printed;
    for (int p = n - n % 2; p >= 2; p -= 2)
    {
        sheets.push_back({{p}});
        printed.push_back(static_cast<int>(sheets.size()) - 1);
    }
    sheets.push_back({}); // a blank sheet, for when one is asked for
    const int blank = static_cast<int>(sheets.size()) - 1;
    std::string why;
    std::vector<int> feed = FollowAdvice(advice, printed, blank, why);
    ASSERT_EQ(why, "") << ::testing::PrintToString(advice);
    std::vector<int> second;
    for (int p = 1; p <= n - n % 2; p += 2)
    {
        second.push_back(p);
    }
    if (order == 1)
    {
        std::reverse(second.begin(), second.end());
    }
    if (n % 2 == 1)
    {
        second.push_back(n);
    }
    ASSERT_EQ(feed.size(), second.size()) << ::testing::PrintToString(advice);
    for (size_t i = 0; i < feed.size(); i++)
    {
        sheets[feed[i]].faces.push_back(second[i]);
    }
    for (int s : feed)
    {
        const std::vector<int> &faces = sheets[s].faces;
        ASSERT_EQ(faces.size(), s == blank ? 1u : 2u);
        const int front = faces.back();
        EXPECT_EQ(front % 2, 1);
        if (s != blank)
        {
            EXPECT_EQ(faces.front(), front + 1) << "page " << front << " is not on the back of page " << front + 1;
        }
        else
        {
            EXPECT_EQ(front, n) << "only the last odd page goes on the added sheet";
        }
    }
    const bool extra = std::any_of(advice.begin(), advice.end(),
                                   [](const std::string &a) { return Contains(a, "add one blank sheet"); });
    EXPECT_EQ(extra, n % 2 == 1);
    // The sheet named as the first one fed carries that page.
    if (n >= 4)
    {
        const int named = order == 0 ? 2 : n - n % 2;
        EXPECT_TRUE(Contains(advice[1], "(page " + std::to_string(named) + " on it) is fed first")) << advice[1];
    }
}

TEST(Prompt, ManualDuplexAdviceGivesEverySheetItsTwoPages)
{
    for (int n : {2, 3, 4, 5, 6, 15, 16, 101})
    {
        for (int order : {0, 1})
        {
            PlayManualDuplex(n, order);
        }
    }
    StackTurn one;
    one.pages = 1;
    EXPECT_TRUE(jobtool::StackAdvice(one).empty()) << "one page prints once, with no turn";
}

// Booklet by hand: sheet s has the outer side 2s-1 and the inner side 2s;
// the first pass prints the inner sides 2S, ..., 2 (innermost sheet first),
// the second the outer sides 1, 3, ... (order 0) or from the top (order 1).
void PlayBooklet(int n, int order)
{
    SCOPED_TRACE("booklet, " + std::to_string(n) + " pages, order " + std::to_string(order));
    StackTurn turn;
    turn.kind = StackTurn::Kind::Booklet;
    turn.pages = n;
    turn.order = order;
    turn.firstPass = "job Q-7 on queue Q";
    turn.queued = true;
    const std::vector<std::string> advice = jobtool::StackAdvice(turn);
    const int m = (n + 3) / 4 * 4, s = m / 4;

    std::vector<int> innerOf, printed; // per sheet in print order: its inner side
    for (int k = 2 * s; k >= 2; k -= 2)
    {
        innerOf.push_back(k);
        printed.push_back(static_cast<int>(innerOf.size()) - 1);
    }
    std::string why;
    std::vector<int> feed = FollowAdvice(advice, printed, -1, why);
    ASSERT_EQ(why, "") << ::testing::PrintToString(advice);
    std::vector<int> outer;
    for (int k = 1; k <= 2 * s; k += 2)
    {
        outer.push_back(k);
    }
    if (order == 1)
    {
        std::reverse(outer.begin(), outer.end());
    }
    ASSERT_EQ(feed.size(), outer.size());
    for (size_t i = 0; i < feed.size(); i++)
    {
        EXPECT_EQ(innerOf[feed[i]], outer[i] + 1) << "side " << outer[i] << " is not the back of side " << outer[i] + 1;
    }
    for (const std::string &a : advice)
    {
        EXPECT_FALSE(Contains(a, "blank sheet")) << "a booklet's sheets are all there: " << a;
    }
    EXPECT_TRUE(Contains(advice[0], "job Q-7 on queue Q"));
    EXPECT_TRUE(Contains(advice[0], std::to_string(s) + (s == 1 ? " sheet " : " sheets ")));
    if (s >= 2)
    {
        // The pages of side 2 (M-1 and 2) or of side 2S (2S and 2S+1), as far as the document has them.
        const int first = order == 0 ? 2 : 2 * s;
        const int second = order == 0 ? m - 1 : 2 * s + 1;
        const std::string named = second <= n
                                      ? "pages " + std::to_string(first) + " and " + std::to_string(second) + " on it"
                                      : "page " + std::to_string(first) + " on it";
        EXPECT_TRUE(Contains(advice[1], named)) << advice[1];
    }
}

TEST(Prompt, BookletAdviceBacksEveryInnerSideWithItsOuterSide)
{
    for (int n : {2, 4, 5, 7, 8, 9, 17, 40})
    {
        for (int order : {0, 1})
        {
            PlayBooklet(n, order);
        }
    }
}

TEST(Prompt, AdviceSaysWhereTheFirstPassIs)
{
    StackTurn turn;
    turn.pages = 15;
    turn.firstPass = "out/report-1.pxl";
    std::vector<std::string> advice = jobtool::StackAdvice(turn);
    ASSERT_GE(advice.size(), 4u);
    EXPECT_TRUE(Contains(advice[0], "out/report-1.pxl, a complete print job")) << advice[0];
    EXPECT_TRUE(Contains(advice[0], "-o raw out/report-1.pxl")) << advice[0];
    EXPECT_TRUE(Contains(advice[0], "7 sheets")) << advice[0];
    EXPECT_TRUE(Contains(advice[0], "pages 14, 12, ..., 2")) << advice[0];
    EXPECT_TRUE(Contains(advice[2], "15 pages")) << advice[2];
    EXPECT_TRUE(Contains(advice[2], "page 15 goes on it")) << advice[2];
    EXPECT_TRUE(Contains(advice[3], "pages 1, 3, ..., 15 on 8 sheets")) << advice[3];
    turn.order = 1;
    advice = jobtool::StackAdvice(turn);
    ASSERT_GE(advice.size(), 4u);
    EXPECT_TRUE(Contains(advice[2], "fed last, after the printed sheets")) << advice[2];
    EXPECT_TRUE(Contains(advice[3], "pages 13, 11, ..., 1, then 15 on 8 sheets")) << advice[3];
    turn.order = 0;

    turn.queued = true;
    turn.firstPass = "job KD7720-12 on queue KD7720";
    advice = jobtool::StackAdvice(turn);
    EXPECT_TRUE(Contains(advice[0], "went to the printer as job KD7720-12 on queue KD7720")) << advice[0];
    EXPECT_FALSE(Contains(advice[0], "lp -d")) << advice[0];
}

// A terminal with the person's lines written in advance.
class ScriptedTerminal : public jobtool::Terminal
{
  public:
    explicit ScriptedTerminal(std::vector<std::string> lines, bool writable = true)
        : m_lines(std::move(lines)), m_writable(writable)
    {
    }
    bool Write(const std::string &text) override
    {
        shown += text;
        return m_writable;
    }
    bool ReadLine(std::string &line) override
    {
        if (m_next >= m_lines.size())
        {
            return false;
        }
        line = m_lines[m_next++].substr(0, kMostLine);
        return true;
    }
    std::string shown;

  private:
    std::vector<std::string> m_lines;
    size_t m_next = 0;
    bool m_writable;
};

TEST(Prompt, TheHooksWordsStayAndTheAnswersAreUnderstood)
{
    jobtool::PromptBox box{"Manual Duplex", "Re-insert the sheets into Multi-purpose tray", false};
    StackTurn turn;
    turn.pages = 6;
    turn.firstPass = "doc-1.pxl";
    const std::vector<std::string> advice = jobtool::StackAdvice(turn);
    const std::string text = jobtool::FormatPrompt(box, advice);
    EXPECT_EQ(text.find("+-- Manual Duplex\n| Re-insert the sheets into Multi-purpose tray\n|\n| * "), 0u) << text;
    for (const std::string &a : advice)
    {
        EXPECT_TRUE(Contains(text, "| * " + a + "\n"));
    }
    jobtool::PromptBox noCaption{"", "first line\r\nsecond line", true};
    EXPECT_EQ(jobtool::FormatPrompt(noCaption, {}), "+-- message\n| first line\n| second line\n| [OK] [Cancel]\n");

    struct Case
    {
        std::vector<std::string> lines;
        jobtool::Answer answer;
    };
    const Case cases[] = {
        {{""}, jobtool::Answer::Ok},       {{"  OK \r"}, jobtool::Answer::Ok},
        {{"o"}, jobtool::Answer::Ok},      {{"Cancel"}, jobtool::Answer::Cancel},
        {{"c"}, jobtool::Answer::Cancel},  {{"maybe", std::string(5000, 'x'), "cancel"}, jobtool::Answer::Cancel},
        {{}, jobtool::Answer::EndOfInput}, {{"later"}, jobtool::Answer::EndOfInput},
    };
    for (const Case &c : cases)
    {
        ScriptedTerminal t(c.lines);
        jobtool::PromptOutcome o = jobtool::Ask(&t, "", box, advice);
        EXPECT_EQ(static_cast<int>(o.answer), static_cast<int>(c.answer)) << ::testing::PrintToString(c.lines);
        EXPECT_TRUE(Contains(t.shown, "Re-insert the sheets")) << t.shown;
        if (c.answer == jobtool::Answer::EndOfInput)
        {
            EXPECT_TRUE(Contains(o.message, "input ended")) << o.message;
            EXPECT_TRUE(Contains(o.message, "taken as Cancel")) << o.message;
        }
        if (c.lines.size() > 1 && c.answer == jobtool::Answer::Cancel)
        {
            EXPECT_TRUE(Contains(t.shown, "(answer ok, or just Enter, or cancel)")) << t.shown;
        }
    }

    ScriptedTerminal gone({"ok"}, false);
    EXPECT_EQ(static_cast<int>(jobtool::Ask(&gone, "", box, advice).answer),
              static_cast<int>(jobtool::Answer::EndOfInput));

    jobtool::PromptOutcome none = jobtool::Ask(nullptr, "no terminal (/dev/tty: No such device or address)", box, {});
    EXPECT_EQ(static_cast<int>(none.answer), static_cast<int>(jobtool::Answer::NoTerminal));
    EXPECT_TRUE(Contains(none.message, "Re-insert the sheets")) << none.message;
    EXPECT_TRUE(Contains(none.message, "/dev/tty: No such device")) << none.message;
    EXPECT_TRUE(Contains(none.message, "--answer ok or --answer cancel")) << none.message;
}

#ifndef _WIN32

// Runs `body` in a child process whose controlling terminal is a new
// pseudo-terminal (none when `withTerminal` is false) and whose standard
// output is a pipe; the parent plays the person at the terminal: it waits
// for `waitFor`, then types `typed`. Gives the child's exit status, what the
// terminal showed and what went to standard output.
struct ChildRun
{
    int status = -1;
    std::string screen, stdoutText;
};

std::string ReadAvailable(int fd, int timeoutMs)
{
    std::string text;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, timeoutMs) > 0)
    {
        char buffer[4096];
        const ssize_t cb = ::read(fd, buffer, sizeof buffer);
        if (cb <= 0)
        {
            break;
        }
        text.append(buffer, static_cast<size_t>(cb));
        timeoutMs = 50;
    }
    return text;
}

ChildRun InChild(bool withTerminal, const std::string &waitFor, const std::string &typed,
                 const std::function<int()> &body)
{
    ChildRun run;
    int master = -1;
    std::string slave;
    if (withTerminal)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        slave = ::ptsname(master);
    }
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::setsid();
        if (withTerminal)
        {
            const int fd = ::open(slave.c_str(), O_RDWR);
            if (fd < 0 || ::ioctl(fd, TIOCSCTTY, 0) != 0)
            {
                ::_exit(90);
            }
            ::dup2(fd, 0);
            ::close(fd);
        }
        else
        {
            ::close(0);
        }
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        if (master >= 0)
        {
            ::close(master);
        }
        ::_exit(body());
    }
    ::close(out[1]);
    if (withTerminal)
    {
        for (int i = 0; i < 200 && !Contains(run.screen, waitFor); i++)
        {
            run.screen += ReadAvailable(master, 50);
        }
        EXPECT_TRUE(Contains(run.screen, waitFor)) << run.screen;
        EXPECT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    }
    run.stdoutText = ReadAvailable(out[0], 10000);
    ::waitpid(pid, &run.status, 0);
    if (withTerminal)
    {
        run.screen += ReadAvailable(master, 100);
        ::close(master);
    }
    ::close(out[0]);
    return run;
}

int AskOnTerminal()
{
    std::string why;
    std::unique_ptr<jobtool::Terminal> t = jobtool::OpenTerminal(why);
    std::printf("report: %s\n", t ? "terminal found" : why.c_str());
    std::fflush(stdout);
    StackTurn turn;
    turn.pages = 4;
    turn.firstPass = "doc-1.pxl";
    jobtool::PromptOutcome o =
        jobtool::Ask(t.get(), why, {"Manual Duplex", "Re-insert the sheets", false}, jobtool::StackAdvice(turn));
    std::printf("report: %s\n", o.message.c_str());
    std::fflush(stdout);
    return 10 + static_cast<int>(o.answer);
}

TEST(Prompt, TheQuestionGoesToTheTerminalNotToStandardOutput)
{
    ChildRun ok = InChild(true, "or type cancel to stop the job: ", "\n", AskOnTerminal);
    ASSERT_TRUE(WIFEXITED(ok.status)) << ok.status;
    EXPECT_EQ(WEXITSTATUS(ok.status), 10 + static_cast<int>(jobtool::Answer::Ok));
    EXPECT_TRUE(Contains(ok.screen, "| Re-insert the sheets")) << ok.screen;
    EXPECT_TRUE(Contains(ok.screen, "doc-1.pxl, a complete print job")) << ok.screen;
    EXPECT_TRUE(Contains(ok.screen, "answered OK")) << ok.screen;
    EXPECT_EQ(ok.stdoutText, "report: terminal found\nreport: \n");

    ChildRun cancel = InChild(true, "or type cancel", "cancel\n", AskOnTerminal);
    EXPECT_EQ(WEXITSTATUS(cancel.status), 10 + static_cast<int>(jobtool::Answer::Cancel));

    // Ctrl-D at the question: the input has ended.
    ChildRun eof = InChild(true, "or type cancel", "\x04", AskOnTerminal);
    EXPECT_EQ(WEXITSTATUS(eof.status), 10 + static_cast<int>(jobtool::Answer::EndOfInput));
    EXPECT_TRUE(Contains(eof.stdoutText, "the input ended")) << eof.stdoutText;
}

TEST(Prompt, WithoutATerminalNobodyIsAsked)
{
    ChildRun none = InChild(false, "", "", AskOnTerminal);
    ASSERT_TRUE(WIFEXITED(none.status)) << none.status;
    EXPECT_EQ(WEXITSTATUS(none.status), 10 + static_cast<int>(jobtool::Answer::NoTerminal));
    EXPECT_TRUE(Contains(none.stdoutText, "report: no terminal (/dev/tty:")) << none.stdoutText;
    EXPECT_TRUE(Contains(none.stdoutText, "--answer ok or --answer cancel")) << none.stdoutText;
    EXPECT_FALSE(Contains(none.stdoutText, "Re-insert the sheets\n")) << "the question went to standard output";
}

#endif

} // namespace
} // namespace jobtool_test
