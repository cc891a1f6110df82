#include "usage.h"

#include <string>

namespace jobtool
{

namespace
{

const char kIntro[] = R"(Usage: jobtool COMMAND [ARGUMENTS]

Makes, replays and explains print jobs of the KD7720 PCL6 driver package:
PCL XL, PDF and PostScript documents through the spooler hook kd7720um.dll,
and onto paper through a print queue.

)";

const char kMake[] = R"(  make INPUT [-o JOB] [PRINT OPTIONS]
      Write a job file: the stream that the printer's rendering driver sends
      for INPUT with the print options below. INPUT is PCL XL, or PDF or
      PostScript (gzip-compressed too), told apart by their content; PDF and
      PostScript go through Ghostscript (Debian package ghostscript) first.
      JOB defaults to INPUT's name with the extension .kdjob, in the current
      directory; make never overwrites INPUT or a file that is not a job
      file. A spooled job of more than 1999 pages is refused at once, as the
      hook would refuse it.
)";

const char kRun[] = R"(  run [JOB] [--out DIR] [--print QUEUE [--server HOST[:PORT]]]
      [--answer ok|cancel]... [--picture FILE.svg] [--trace]
      Replay a job file through kd7720um.dll with the simulated spooler.
      Each spooler document goes to DIR/NAME-N.pxl as soon as the hook ends
      it, before any question that follows (DIR defaults to the current
      directory, NAME is JOB's name), and its page map is printed; NAME-N.pxl
      of an earlier run are removed from DIR first. Questions are asked on
      the terminal. A refusal of the hook is explained. Without JOB: a
      built-in example,
      examples/sample.pxl (six pages) in two collated copies.
)";

const char kExplain[] = R"(  explain OUTPUT.pxl [--job JOB | --input INPUT.pxl] [--picture FILE.svg]
      Print the page map of a document the printer received: each page with
      the input page it came from, the fragments between them, and whether
      the document is well-formed PCL XL. A well-formed document is then
      followed as a printer's interpreter follows it: "not printable" and
      the reason in brackets after "well-formed PCL XL" name the first thing
      it would refuse: a colour before any colour space on the page, text
      before its font or characters are downloaded, a font downloaded
      twice, a stream run before it is defined, a page drawn off its sheet.
      A document that is not well-formed is not followed further.
)";

const char kShow[] = R"(  show JOB
      A job file's settings in the words of make's options, its pages, and
      each step the spooler takes.
)";

const char kHelp[] = R"(  help [COMMAND]
      The help of one command, or of all.
)";

const char kPrintOptions[] = R"(Print options (make):
  --copies N                 N copies; without --collate the printer repeats
                             each page N times
  --collate                  the hook sends the whole document once per copy
  --copy-command             the printer makes the collated copies, asked by a
                             PJL command in the job header (implies --collate)
  --reverse                  last page first
  --page-set odd|even        only the odd or only the even pages
  --manual-duplex            even pages first (last first), a prompt to turn
                             the stack, then the odd pages
    --order asc|desc         order of the second pass (also --booklet manual)
    --instruction-page       print the instruction page before the first pass
  --booklet printer|manual   two pages on each sheet side, imposed for folding;
                             the printer or the user turns the sheets
    --direction ltr|rtl      reading direction of the booklet: left to right
                             (default) or right to left; 0 and 1 say the same
  --transparency same|last   a separator sheet with each transparency: the same
                             page, or the document's last page
    --transparency-first     each pair starts with the transparency
  --watermark TEXT           a watermark on the pages (TEXT, NAME and PATHs
                             must be in the printer's code page, Windows-1252)
    --wm-size PT             font size (default 72)
    --wm-angle DEG           angle (default 45)
    --wm-outline             outlined letters
    --wm-first-page          on the first page only
  --overlay-create PATH      store page 1 as an overlay at PATH (the job prints
                             nothing)
  --overlay PATH             print the pages over the overlay stored at PATH
    --ask                    ask before printing with the overlay
  --defer-text               hold each page's text back to the end of the page
  --pass-through             the hook passes the stream on unchanged
  --orientation portrait|landscape
                             orientation of the settings (default: the first
                             page's)
  --name NAME                document name (default: INPUT's file name)
  --paper NAME               PDF and PostScript: every page fitted to this
                             paper (letter, legal, a4, executive, ledger, a3,
                             a5, jisb5); default: the paper the document sets
  --resolution DPI           PDF and PostScript: 72 to 1200 (default 600)

)";

const char kRunOptions[] = R"(Run options:
  --out DIR                  where the printed documents go
  --print QUEUE              send each document, as soon as it is complete, to
                             the CUPS print queue QUEUE as raw data (lp -o raw)
    --server HOST[:PORT]     the queue's scheduler (default: the user's)
  --answer ok|cancel         answers the next message box of the hook; repeat
                             it for more boxes, the last one answers the rest.
                             Without it the boxes are asked on the terminal
                             (not standard input or output), with what to do
                             between the passes of a two-pass job; Enter is
                             OK, "cancel" or the end of input (Ctrl-D) stops
                             the job. Without a terminal the run stops.
  --picture FILE.svg         draw the sheets as they come out (also explain)
  --trace                    print the hook's debug trace

)";

const char kExit[] = R"(Exit status: 0 done; 1 the hook refused the job or a printed document is not
well-formed PCL XL or not printable, or a file could not be used or is not
sound PCL XL, or a document could not be queued, or the job was stopped at a
question (Cancel, end of input, nobody to ask); 2 bad usage.
)";

} // namespace

std::string UsageText()
{
    return std::string(kIntro) + "Commands:\n" + kMake + kRun + kExplain + kShow + kHelp + "\n" + kPrintOptions +
           kRunOptions + kExit;
}

std::optional<std::string> CommandUsage(const std::string &command)
{
    const std::string head = "Usage: jobtool ";
    auto usage = [&](const char *line, const char *options) {
        std::string l(line);
        l.erase(0, l.find_first_not_of(' '));
        return head + l + (options[0] != '\0' ? "\n" + std::string(options) : std::string()) + "\n" + kExit;
    };
    if (command == "make")
    {
        return usage(kMake, kPrintOptions);
    }
    if (command == "run")
    {
        return usage(kRun, kRunOptions);
    }
    if (command == "explain")
    {
        return usage(kExplain, "");
    }
    if (command == "show")
    {
        return usage(kShow, "");
    }
    if (command == "help")
    {
        return usage(kHelp, "");
    }
    return std::nullopt;
}

} // namespace jobtool
