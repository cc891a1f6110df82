// A person at the printer: the hook's message boxes shown on the terminal
// with what the person needs besides the hook's own words - which file or
// queue job holds the pass just printed, how the printed stack goes back for
// the second pass, and when the second pass needs one more sheet.
#pragma once

#include "terminal.h"

#include <string>
#include <vector>

namespace jobtool
{

// Between the two passes of a job printed on both sides by hand.
struct StackTurn
{
    enum class Kind
    {
        ManualDuplex, // pages 2, 4, ... first, then 1, 3, ...
        Booklet       // the inner sides of the booklet's sheets, then the outer ones
    };
    Kind kind = Kind::ManualDuplex;
    int pages = 0; // the document's pages
    // The second pass's order, as the job sets it: 0 feeds first the sheet
    // that was printed last, 1 the sheet that was printed first.
    int order = 0;
    std::string firstPass; // the file, or the queue job ("job Q-12 on queue Q")
    bool queued = false;   // firstPass went to a queue already
};

// The sheets the first pass prints, and those the second pass needs.
struct PassSheets
{
    int printed = 0; // sheets out of the first pass
    int needed = 0;  // sheets the second pass prints on
    std::vector<int> firstPassPages;
    std::vector<int> secondPassPages;
};
PassSheets SheetsOf(const StackTurn &turn);

// What the person does now, one instruction per line.
std::vector<std::string> StackAdvice(const StackTurn &turn);

// A message box of the hook, in the tool's terms.
struct PromptBox
{
    std::string caption; // empty: the box had none
    std::string text;
    bool okCancel = false; // a question with OK and Cancel; else a message with OK
};

// The box as the terminal shows it: caption, the hook's text, the advice,
// the buttons.
std::string FormatPrompt(const PromptBox &box, const std::vector<std::string> &advice);

enum class Answer
{
    Ok,
    Cancel,
    EndOfInput, // the input ended: taken as Cancel
    NoTerminal  // nobody can be asked
};

struct PromptOutcome
{
    Answer answer = Answer::Cancel;
    std::string message; // for the report, when the answer was not given
};

// Shows the box on the terminal (null: none) and waits for OK (Enter) or
// Cancel.
PromptOutcome Ask(Terminal *terminal, const std::string &noTerminalWhy, const PromptBox &box,
                  const std::vector<std::string> &advice);

// "2, 4, 6" or "14, 12, ..., 2": a run of pages for a sentence.
std::string PageList(const std::vector<int> &pages);

} // namespace jobtool
