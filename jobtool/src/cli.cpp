#include "cli.h"

#include "driver.h"
#include "jobfile.h"
#include "pagemap.h"
#include "replay.h"

#include <pclxl/samples.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>

namespace jobtool
{

namespace
{

const char kUsageText[] = R"(Usage: jobtool COMMAND [ARGUMENTS]

Makes, replays and explains print jobs of the KD7720 PCL6 driver package:
real PCL XL documents through the spooler hook kd7720um.dll.

Commands:
  make INPUT.pxl [-o JOB] [PRINT OPTIONS]
      Write a job file: the stream that the printer's rendering driver sends
      for INPUT.pxl with the print options below. JOB defaults to INPUT's
      name with the extension .kdjob, in the current directory.
  run [JOB] [--out DIR] [--answer ok|cancel]... [--trace]
      Replay a job file through kd7720um.dll with the simulated spooler.
      Each spooler document goes to DIR/NAME-N.pxl (DIR defaults to the
      current directory, NAME is JOB's name) and its page map is printed.
      Without JOB: a built-in example, examples/sample.pxl (six pages) in
      two collated copies.
  explain OUTPUT.pxl [--job JOB | --input INPUT.pxl]
      Print the page map of a document the printer received: each page with
      the input page it came from, the fragments between them, and whether
      the document is well-formed PCL XL.
  help [COMMAND]

Print options (make):
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
    --direction 0|1          reading direction of the booklet
  --transparency same|last   a separator sheet with each transparency: the same
                             page, or the document's last page
    --transparency-first     each pair starts with the transparency
  --watermark TEXT           a watermark on the pages
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

Run options:
  --out DIR                  where the printed documents go
  --answer ok|cancel         answers the next question box; repeat it for more
                             boxes, the last one answers the rest. Without it
                             the boxes are shown and answered on the terminal
                             (standard input).
  --trace                    print the hook's debug trace

Exit status: 0 done; 1 the hook refused the job or a printed document is not
well-formed PCL XL, or a file could not be used or is not sound PCL XL;
2 bad usage.
)";

struct UsageError
{
    std::string message;
};

std::string Lower(std::string s)
{
    for (char &c : s)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Walks the arguments of a command: options with values (as "--x V" or
// "--x=V") and positional arguments.
class Args
{
  public:
    explicit Args(const std::vector<std::string> &args) : m_args(args)
    {
    }
    bool Next()
    {
        if (m_i >= m_args.size())
        {
            return false;
        }
        m_current = m_args[m_i++];
        m_value.reset();
        size_t eq = m_current.find('=');
        if (m_current.compare(0, 2, "--") == 0 && eq != std::string::npos)
        {
            m_value = m_current.substr(eq + 1);
            m_current.resize(eq);
        }
        return true;
    }
    const std::string &Current() const
    {
        return m_current;
    }
    bool IsOption() const
    {
        return m_current.size() > 1 && m_current[0] == '-';
    }
    std::string Value()
    {
        if (m_value)
        {
            return *m_value;
        }
        if (m_i >= m_args.size())
        {
            throw UsageError{m_current + " needs a value"};
        }
        return m_args[m_i++];
    }
    int Number(int min, int max)
    {
        std::string v = Value();
        size_t used = 0;
        int n = 0;
        try
        {
            n = std::stoi(v, &used);
        }
        catch (const std::exception &)
        {
            used = 0;
        }
        if (used == 0 || used != v.size() || n < min || n > max)
        {
            throw UsageError{m_current + " needs a number from " + std::to_string(min) + " to " + std::to_string(max) +
                             ", not \"" + v + "\""};
        }
        return n;
    }
    std::string Choice(std::initializer_list<const char *> choices)
    {
        std::string v = Lower(Value());
        std::string list;
        for (const char *c : choices)
        {
            if (v == c)
            {
                return v;
            }
            list += (list.empty() ? "" : "|") + std::string(c);
        }
        throw UsageError{m_current + " takes " + list + ", not \"" + v + "\""};
    }
    void NoValue() const
    {
        if (m_value)
        {
            throw UsageError{m_current + " takes no value"};
        }
    }

  private:
    const std::vector<std::string> &m_args;
    size_t m_i = 0;
    std::string m_current;
    std::optional<std::string> m_value;
};

std::optional<Bytes> ReadFile(const std::string &path, std::string &error)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
    {
        error = "cannot open " + path;
        return std::nullopt;
    }
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad())
    {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return data;
}

bool WriteFile(const std::string &path, const Bytes &data, std::string &error)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    f.close();
    if (!f)
    {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string Stem(const std::string &path)
{
    return std::filesystem::path(path).stem().string();
}

// ---- make -------------------------------------------------------------------------------

int Make(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string input, output;
    JobOptions o;
    std::set<std::string> given;
    while (a.Next())
    {
        const std::string opt = a.Current();
        if (!a.IsOption())
        {
            if (!input.empty())
            {
                throw UsageError{"make takes one input file, not also \"" + opt + "\""};
            }
            input = opt;
            continue;
        }
        given.insert(opt);
        if (opt == "-o" || opt == "--output")
        {
            output = a.Value();
        }
        else if (opt == "--copies")
        {
            o.copies = a.Number(1, 32767);
        }
        else if (opt == "--collate")
        {
            a.NoValue();
            o.collate = true;
        }
        else if (opt == "--copy-command")
        {
            a.NoValue();
            o.copyCommand = o.collate = true;
        }
        else if (opt == "--reverse")
        {
            a.NoValue();
            o.reverse = true;
        }
        else if (opt == "--page-set")
        {
            o.pageSet = a.Choice({"odd", "even"}) == "odd" ? PageSet::Odd : PageSet::Even;
        }
        else if (opt == "--manual-duplex")
        {
            a.NoValue();
            o.manualDuplex = true;
        }
        else if (opt == "--order")
        {
            o.descending = a.Choice({"asc", "desc"}) == "desc";
        }
        else if (opt == "--instruction-page")
        {
            a.NoValue();
            o.instructionPage = true;
        }
        else if (opt == "--booklet")
        {
            o.booklet = a.Choice({"printer", "manual"}) == "printer" ? BookletKind::Printer : BookletKind::Manual;
        }
        else if (opt == "--direction")
        {
            o.direction = a.Number(0, 1);
        }
        else if (opt == "--transparency")
        {
            o.transparency = a.Choice({"same", "last"}) == "same" ? Interleave::SamePage : Interleave::LastPage;
        }
        else if (opt == "--transparency-first")
        {
            a.NoValue();
            o.transparencyFirst = true;
        }
        else if (opt == "--watermark")
        {
            o.watermark = a.Value();
        }
        else if (opt == "--wm-size")
        {
            o.wmSize = a.Number(1, 999);
        }
        else if (opt == "--wm-angle")
        {
            o.wmAngle = a.Number(-360, 360);
        }
        else if (opt == "--wm-outline")
        {
            a.NoValue();
            o.wmOutline = true;
        }
        else if (opt == "--wm-first-page")
        {
            a.NoValue();
            o.wmFirstPage = true;
        }
        else if (opt == "--overlay-create")
        {
            o.overlayCreate = ToWindowsPath(a.Value());
        }
        else if (opt == "--overlay")
        {
            o.overlay = ToWindowsPath(a.Value());
        }
        else if (opt == "--ask")
        {
            a.NoValue();
            o.ask = true;
        }
        else if (opt == "--defer-text")
        {
            a.NoValue();
            o.deferText = true;
        }
        else if (opt == "--pass-through")
        {
            a.NoValue();
            o.passThrough = true;
        }
        else if (opt == "--orientation")
        {
            o.orientation = a.Choice({"portrait", "landscape"}) == "portrait" ? DMORIENT_PORTRAIT : DMORIENT_LANDSCAPE;
        }
        else if (opt == "--name")
        {
            o.documentName = a.Value();
        }
        else
        {
            throw UsageError{"make has no option " + opt};
        }
    }
    if (input.empty())
    {
        throw UsageError{"make needs an input PCL XL file"};
    }
    // Options that only refine another one.
    const std::pair<const char *, bool> refinements[] = {
        {"--order", o.manualDuplex || o.booklet == BookletKind::Manual},
        {"--instruction-page", o.manualDuplex || o.booklet == BookletKind::Manual},
        {"--direction", o.booklet != BookletKind::None},
        {"--transparency-first", o.transparency != Interleave::None},
        {"--wm-size", o.watermark.has_value()},
        {"--wm-angle", o.watermark.has_value()},
        {"--wm-outline", o.watermark.has_value()},
        {"--wm-first-page", o.watermark.has_value()},
        {"--ask", o.overlay.has_value()},
    };
    for (const auto &r : refinements)
    {
        if (given.count(r.first) != 0 && !r.second)
        {
            static const std::map<std::string, std::string> needs = {
                {"--order", "--manual-duplex or --booklet manual"},
                {"--instruction-page", "--manual-duplex or --booklet manual"},
                {"--direction", "--booklet"},
                {"--transparency-first", "--transparency"},
                {"--wm-size", "--watermark"},
                {"--wm-angle", "--watermark"},
                {"--wm-outline", "--watermark"},
                {"--wm-first-page", "--watermark"},
                {"--ask", "--overlay"}};
            throw UsageError{std::string(r.first) + " needs " + needs.at(r.first)};
        }
    }
    if (o.documentName.empty())
    {
        o.documentName = std::filesystem::path(input).filename().string();
    }
    std::string check = CheckOptions(o);
    if (!check.empty())
    {
        throw UsageError{check};
    }
    if (output.empty())
    {
        output = Stem(input) + ".kdjob";
    }

    std::string error;
    std::optional<Bytes> pxl = ReadFile(input, error);
    if (!pxl)
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    MadeJob made = MakeJob(*pxl, o);
    if (!made.job)
    {
        err << "jobtool: " << input << ": " << made.error << "\n";
        return made.usage ? kUsage : kFailed;
    }
    if (!WriteFile(output, spoolsim::SaveJob(*made.job), error))
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    out << output << ": " << made.job->steps.size() << " steps, " << made.summary << "\n";
    for (const std::string &note : made.notes)
    {
        out << "  note: " << note << "\n";
    }
    return kDone;
}

// ---- run --------------------------------------------------------------------------------

std::string Buttons(UINT style)
{
    switch (style & MB_TYPEMASK)
    {
    case MB_OKCANCEL:
        return "[OK] [Cancel]";
    case MB_YESNO:
        return "[Yes] [No]";
    case MB_YESNOCANCEL:
        return "[Yes] [No] [Cancel]";
    case MB_RETRYCANCEL:
        return "[Retry] [Cancel]";
    case MB_ABORTRETRYIGNORE:
        return "[Abort] [Retry] [Ignore]";
    default:
        return "[OK]";
    }
}

const char *Icon(UINT style)
{
    switch (style & MB_ICONMASK)
    {
    case MB_ICONERROR:
        return "error";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONWARNING:
        return "warning";
    case MB_ICONINFORMATION:
        return "information";
    default:
        return "message";
    }
}

// Shows a message box on the terminal and takes the user's answer, from
// --answer or from the input; 0 (the box could not be shown) when the input
// has ended.
class Terminal
{
  public:
    Terminal(std::vector<int> answers, std::istream &in, std::ostream &out, bool echo)
        : m_answers(std::move(answers)), m_in(in), m_out(out), m_echo(echo)
    {
    }
    int operator()(const spoolsim::MessageBoxRecord &box)
    {
        m_out << "+-- " << Icon(box.style) << " box"
              << (box.captionNull ? std::string() : ": " + spoolsim::Narrow(box.caption)) << "\n";
        m_out << "| " << spoolsim::Narrow(box.text) << "\n";
        m_out << "| " << Buttons(box.style) << "\n";
        const bool question = (box.style & MB_TYPEMASK) == MB_OKCANCEL;
        if (!m_answers.empty() || !question)
        {
            int answer = IDOK;
            if (question && !m_answers.empty())
            {
                answer = m_answers[std::min(m_next, m_answers.size() - 1)];
                m_next++;
            }
            if (!question && m_answers.empty())
            {
                m_out << "+-- press Enter: ";
                m_out.flush();
                std::string line;
                return Read(line) ? IDOK : 0;
            }
            m_out << "+-- answered " << (answer == IDOK ? "OK" : "Cancel") << "\n";
            return answer;
        }
        for (;;)
        {
            m_out << "+-- answer ok or cancel: ";
            m_out.flush();
            std::string line;
            if (!Read(line))
            {
                return 0;
            }
            line = Lower(line);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            {
                line.pop_back();
            }
            if (line.empty() || line == "ok" || line == "o")
            {
                return IDOK;
            }
            if (line == "cancel" || line == "c")
            {
                return IDCANCEL;
            }
        }
    }

  private:
    bool Read(std::string &line)
    {
        if (!std::getline(m_in, line))
        {
            m_out << "(no terminal input: the box could not be shown)\n";
            return false;
        }
        if (m_echo)
        {
            m_out << line << "\n";
        }
        return true;
    }

    std::vector<int> m_answers;
    size_t m_next = 0;
    std::istream &m_in;
    std::ostream &m_out;
    bool m_echo;
};

int Run(const std::vector<std::string> &argv, std::istream &in, std::ostream &out, std::ostream &err, bool terminal)
{
    Args a(argv);
    std::string jobPath, outDir = ".";
    std::vector<int> answers;
    bool trace = false;
    while (a.Next())
    {
        const std::string opt = a.Current();
        if (!a.IsOption())
        {
            if (!jobPath.empty())
            {
                throw UsageError{"run takes one job file, not also \"" + opt + "\""};
            }
            jobPath = opt;
        }
        else if (opt == "--out")
        {
            outDir = a.Value();
        }
        else if (opt == "--answer")
        {
            answers.push_back(a.Choice({"ok", "cancel"}) == "ok" ? IDOK : IDCANCEL);
        }
        else if (opt == "--trace")
        {
            a.NoValue();
            trace = true;
        }
        else
        {
            throw UsageError{"run has no option " + opt};
        }
    }

    spoolsim::Job job;
    std::string stem;
    std::string error;
    if (jobPath.empty())
    {
        const pclxl::Bytes sample = pclxl::samples::get("sample.pxl");
        JobOptions o;
        o.copies = 2;
        o.collate = true;
        o.documentName = "sample.pxl";
        MadeJob made = MakeJob(Bytes(sample.data, sample.data + sample.size), o);
        if (!made.job)
        {
            err << "jobtool: the built-in example: " << made.error << "\n";
            return kFailed;
        }
        job = *made.job;
        stem = "example";
        out << "job: the built-in example, examples/sample.pxl (six pages) in two collated copies\n";
    }
    else
    {
        std::optional<Bytes> data = ReadFile(jobPath, error);
        if (!data)
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        spoolsim::LoadedJob loaded = spoolsim::LoadJob(*data);
        if (!loaded.job)
        {
            err << "jobtool: " << jobPath << ": not a job file: " << loaded.error << "\n";
            return kFailed;
        }
        job = *loaded.job;
        stem = Stem(jobPath);
        out << "job: " << jobPath << " (\"" << spoolsim::Narrow(job.documentName) << "\", " << job.steps.size()
            << " steps)\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);

    Terminal boxes(answers, in, out, !terminal);
    Replay replay = RunJob(job, std::ref(boxes));
    if (trace)
    {
        for (const spoolsim::WString &t : replay.run.traces)
        {
            std::string line = spoolsim::Narrow(t);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            {
                line.pop_back();
            }
            out << "trace: " << line << "\n";
        }
    }
    bool failed = !replay.problems.empty();
    for (const std::string &p : replay.problems)
    {
        out << "problem: " << p << "\n";
    }
    if (!replay.loaded)
    {
        return kFailed;
    }

    std::string refError;
    Reference ref = ReferenceFromJob(job, &refError);
    if (!refError.empty())
    {
        out << "note: the pages cannot be matched with the input: " << refError << "\n";
    }
    size_t n = 0;
    for (const spoolsim::Document *doc : replay.run.PrinterDocuments())
    {
        n++;
        if (doc->data.empty())
        {
            out << "document " << n << ": empty, nothing reached the printer\n";
            continue;
        }
        if (!doc->ended)
        {
            out << "document " << n << ": " << doc->data.size()
                << " bytes, cancelled: the spooler drops it and nothing is printed\n";
            continue;
        }
        std::string path = (std::filesystem::path(outDir) / (stem + "-" + std::to_string(n) + ".pxl")).string();
        if (!WriteFile(path, doc->data, error))
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        PageMap map = Explain(doc->data, ref);
        out << "document " << n << " (\"" << spoolsim::Narrow(doc->name) << "\") written to " << path << "\n";
        out << FormatPageMap(map, path);
        failed = failed || !map.wellFormed;
    }
    if (n == 0)
    {
        out << "no document went to the printer\n";
    }
    if (!replay.overlayPath.empty())
    {
        if (!replay.overlayFile)
        {
            out << "no overlay file at " << replay.overlayPath << "\n";
            failed = true;
        }
        else
        {
            Commands body = ReadCommands(pclxl::Bytes(*replay.overlayFile), pclxl::Context::Page);
            out << "overlay file " << replay.overlayPath << ": " << replay.overlayFile->size() << " bytes, "
                << body.structure.commands.size() << " commands, "
                << (body.ok() ? "a well-formed page body" : "NOT a well-formed page body (" + body.error() + ")")
                << "\n";
            failed = failed || !body.ok();
        }
    }
    return failed ? kFailed : kDone;
}

// ---- explain ------------------------------------------------------------------------------

int ExplainCommand(const std::vector<std::string> &argv, std::ostream &out, std::ostream &err)
{
    Args a(argv);
    std::string outputPath, jobPath, inputPath;
    while (a.Next())
    {
        const std::string opt = a.Current();
        if (!a.IsOption())
        {
            if (!outputPath.empty())
            {
                throw UsageError{"explain takes one output file, not also \"" + opt + "\""};
            }
            outputPath = opt;
        }
        else if (opt == "--job")
        {
            jobPath = a.Value();
        }
        else if (opt == "--input")
        {
            inputPath = a.Value();
        }
        else
        {
            throw UsageError{"explain has no option " + opt};
        }
    }
    if (outputPath.empty())
    {
        throw UsageError{"explain needs the file of a printed document"};
    }
    if (!jobPath.empty() && !inputPath.empty())
    {
        throw UsageError{"explain takes --job or --input, not both"};
    }
    std::string error;
    std::optional<Bytes> output = ReadFile(outputPath, error);
    if (!output)
    {
        err << "jobtool: " << error << "\n";
        return kFailed;
    }
    Reference ref;
    if (!jobPath.empty())
    {
        std::optional<Bytes> data = ReadFile(jobPath, error);
        if (!data)
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        spoolsim::LoadedJob loaded = spoolsim::LoadJob(*data);
        if (!loaded.job)
        {
            err << "jobtool: " << jobPath << ": not a job file: " << loaded.error << "\n";
            return kFailed;
        }
        ref = ReferenceFromJob(*loaded.job, &error);
    }
    else if (!inputPath.empty())
    {
        std::optional<Bytes> data = ReadFile(inputPath, error);
        if (!data)
        {
            err << "jobtool: " << error << "\n";
            return kFailed;
        }
        ref = ReferenceFromInput(*data, &error);
    }
    if (!error.empty())
    {
        err << "jobtool: " << (jobPath.empty() ? inputPath : jobPath) << ": " << error << "\n";
        return kFailed;
    }
    PageMap map = Explain(*output, ref);
    out << FormatPageMap(map, outputPath);
    return map.wellFormed ? kDone : kFailed;
}

} // namespace

std::string ToWindowsPath(const std::string &path)
{
    std::string p = path;
    const bool windows = (p.size() >= 2 && p[1] == ':') || p.compare(0, 2, "\\\\") == 0;
    if (!windows)
    {
        std::error_code ec;
        std::filesystem::path abs = std::filesystem::absolute(path, ec).lexically_normal();
        p = ec ? path : abs.string();
#ifndef _WIN32
        p = "Z:" + p;
#endif
    }
    for (char &c : p)
    {
        c = c == '/' ? '\\' : c;
    }
    return p;
}

int Main(const std::vector<std::string> &args, std::istream &in, std::ostream &out, std::ostream &err, bool terminal)
{
    const std::string command = args.empty() ? std::string() : args.front();
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    const bool wantsHelp = std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
                           std::find(rest.begin(), rest.end(), "-h") != rest.end();
    if (command.empty())
    {
        err << kUsageText;
        return kUsage;
    }
    if (command == "help" || command == "--help" || command == "-h" || wantsHelp)
    {
        out << kUsageText;
        return kDone;
    }
    try
    {
        if (command == "make")
        {
            return Make(rest, out, err);
        }
        if (command == "run")
        {
            return Run(rest, in, out, err, terminal);
        }
        if (command == "explain")
        {
            return ExplainCommand(rest, out, err);
        }
        throw UsageError{"no command \"" + command + "\" (make, run, explain or help)"};
    }
    catch (const UsageError &e)
    {
        err << "jobtool: " << e.message << "\nTry 'jobtool --help'.\n";
        return kUsage;
    }
}

} // namespace jobtool
