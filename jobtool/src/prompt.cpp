#include "prompt.h"

#include <algorithm>
#include <cctype>

namespace jobtool
{

namespace
{

std::string Plural(int n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The pages of booklet side k (from 1) of an M-page imposition that exist.
std::vector<int> SidePages(int k, int m, int n)
{
    std::vector<int> pages;
    for (int p : {std::min(k, m + 1 - k), std::max(k, m + 1 - k)})
    {
        if (p <= n)
        {
            pages.push_back(p);
        }
    }
    return pages;
}

std::string PagesOnSheet(const std::vector<int> &pages)
{
    if (pages.size() == 1)
    {
        return "page " + std::to_string(pages[0]);
    }
    return "pages " + std::to_string(pages[0]) + " and " + std::to_string(pages[1]);
}

std::string Trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
    {
        s.pop_back();
    }
    s.erase(0, std::min(s.find_first_not_of(" \t"), s.size()));
    for (char &c : s)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

} // namespace

std::string PageList(const std::vector<int> &pages)
{
    std::string out;
    if (pages.size() > 4)
    {
        return std::to_string(pages[0]) + ", " + std::to_string(pages[1]) + ", ..., " + std::to_string(pages.back());
    }
    for (int p : pages)
    {
        out += (out.empty() ? "" : ", ") + std::to_string(p);
    }
    return out;
}

PassSheets SheetsOf(const StackTurn &turn)
{
    PassSheets s;
    const int n = std::max(turn.pages, 0);
    if (turn.kind == StackTurn::Kind::ManualDuplex)
    {
        // Sheet s has page 2s-1 on its front and 2s on its back; the backs
        // print first, the highest first.
        for (int p = n - n % 2; p >= 2; p -= 2)
        {
            s.firstPassPages.push_back(p);
        }
        for (int p = 1; p <= n; p += 2)
        {
            s.secondPassPages.push_back(p);
        }
        s.printed = n / 2;
        s.needed = (n + 1) / 2;
    }
    else
    {
        // M pages on M/4 sheets; the inner sides print first, innermost sheet first.
        const int m = (n + 3) / 4 * 4;
        const int sides = m / 2;
        for (int k = sides; k >= 2; k -= 2)
        {
            for (int p : SidePages(k, m, n))
            {
                s.firstPassPages.push_back(p);
            }
        }
        for (int k = 1; k <= sides; k += 2)
        {
            for (int p : SidePages(k, m, n))
            {
                s.secondPassPages.push_back(p);
            }
        }
        s.printed = s.needed = m / 4;
    }
    if (turn.order == 1)
    {
        // The fronts of the re-inserted sheets from the top; an odd count's
        // last page stays last, on the fresh sheet the tray supplies after
        // the stack.
        const bool alone = turn.kind == StackTurn::Kind::ManualDuplex && n % 2 == 1;
        std::reverse(s.secondPassPages.begin(), s.secondPassPages.end() - (alone ? 1 : 0));
    }
    return s;
}

std::vector<std::string> StackAdvice(const StackTurn &turn)
{
    std::vector<std::string> advice;
    const int n = turn.pages;
    if (n < 2)
    {
        return advice; // one page prints once: there is no second pass
    }
    const bool booklet = turn.kind == StackTurn::Kind::Booklet;
    const PassSheets sheets = SheetsOf(turn);
    const std::string printed = Plural(sheets.printed, "sheet", "sheets");
    const std::string what = booklet ? "the inner sides of the booklet" : "pages " + PageList(sheets.firstPassPages);

    if (turn.queued)
    {
        advice.push_back("The first pass went to the printer as " + turn.firstPass + ": wait until its " + printed +
                         " are out (" + what + ").");
    }
    else
    {
        advice.push_back("The first pass is in " + turn.firstPass +
                         ", a complete print job: send it to the printer as raw data (for example lp -d PRINTER -o "
                         "raw " +
                         turn.firstPass + ") and wait until its " + printed + " are out (" + what + ").");
    }

    // The sheet the second pass must take first.
    std::vector<int> lastOut, firstOut;
    if (booklet)
    {
        const int m = (n + 3) / 4 * 4;
        lastOut = SidePages(2, m, n);
        firstOut = SidePages(m / 2, m, n);
    }
    else
    {
        lastOut = {2};
        firstOut = {n - n % 2};
    }
    std::string stack = "Put the printed sheets back into the multi-purpose tray, printed side up, top edge first, ";
    if (sheets.printed == 1)
    {
        stack += "the sheet with " + PagesOnSheet(lastOut) + " on it.";
    }
    else if (turn.order == 0)
    {
        stack += "in the order they came out: of the printed sheets, the one printed last (" + PagesOnSheet(lastOut) +
                 " on it) is fed first.";
    }
    else
    {
        stack += "in the opposite order to the one they came out in: of the printed sheets, the one printed first (" +
                 PagesOnSheet(firstOut) + " on it) is fed first, the one printed last (" + PagesOnSheet(lastOut) +
                 ") last.";
    }
    advice.push_back(stack);

    if (sheets.needed > sheets.printed)
    {
        advice.push_back("The document has " + std::to_string(n) +
                         " pages, so the second pass needs one sheet more than the " + printed +
                         " printed: add one blank sheet so that it is fed last, after the printed sheets (blank "
                         "paper under the stack); page " +
                         std::to_string(n) + " goes on it.");
    }
    std::string second = "pages " + PageList(sheets.secondPassPages);
    if (!booklet && turn.order == 1 && n % 2 == 1 && n > 2)
    {
        const std::vector<int> stack(sheets.secondPassPages.begin(), sheets.secondPassPages.end() - 1);
        second = "pages " + PageList(stack) + ", then " + std::to_string(n);
    }
    advice.push_back(std::string("Then answer OK: the second pass prints ") + (booklet ? "the outer sides" : second) +
                     " on " + Plural(sheets.needed, "sheet", "sheets") + ".");
    return advice;
}

std::string FormatPrompt(const PromptBox &box, const std::vector<std::string> &advice)
{
    std::string out = "+-- " + (box.caption.empty() ? std::string("message") : box.caption) + "\n";
    size_t at = 0;
    do
    {
        size_t end = box.text.find('\n', at);
        end = end == std::string::npos ? box.text.size() : end;
        std::string line = box.text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
        {
            line.pop_back();
        }
        out += "| " + line + "\n";
        at = end + 1;
    } while (at <= box.text.size());
    if (!advice.empty())
    {
        out += "|\n";
        for (const std::string &a : advice)
        {
            out += "| * " + a + "\n";
        }
    }
    out += box.okCancel ? "| [OK] [Cancel]\n" : "| [OK]\n";
    return out;
}

PromptOutcome Ask(Terminal *terminal, const std::string &noTerminalWhy, const PromptBox &box,
                  const std::vector<std::string> &advice)
{
    PromptOutcome outcome;
    if (terminal == nullptr)
    {
        outcome.answer = Answer::NoTerminal;
        outcome.message = "the hook asks \"" + box.text + "\" and nobody can answer: " + noTerminalWhy +
                          "; give the answer with --answer ok or --answer cancel";
        return outcome;
    }
    const std::string question = box.okCancel ? "+-- Enter for OK, or type cancel: "
                                              : "+-- press Enter when done (OK), or type cancel to stop the job: ";
    bool shown = terminal->Write(FormatPrompt(box, advice));
    // Each attempt waits for a line the person types; the bound only stops
    // a stream of unreadable answers from holding the job for ever.
    for (int attempt = 0; shown && attempt < 100; attempt++)
    {
        std::string line;
        if (!terminal->Write(question) || !terminal->ReadLine(line))
        {
            break;
        }
        const std::string answer = Trimmed(line);
        if (answer.empty() || answer == "ok" || answer == "o")
        {
            terminal->Write("+-- answered OK\n");
            outcome.answer = Answer::Ok;
            return outcome;
        }
        if (answer == "cancel" || answer == "c")
        {
            terminal->Write("+-- answered Cancel\n");
            outcome.answer = Answer::Cancel;
            return outcome;
        }
        terminal->Write("| (answer ok, or just Enter, or cancel)\n");
    }
    terminal->Write("\n+-- no answer: taken as Cancel\n");
    outcome.answer = Answer::EndOfInput;
    outcome.message = "the input ended at the question \"" + box.text + "\": taken as Cancel";
    return outcome;
}

} // namespace jobtool
