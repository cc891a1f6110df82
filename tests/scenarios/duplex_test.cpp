// Manual duplex: backs in a first spooler document, the prompt, fronts in a
// second one.
#include "jobtest.h"

namespace scenarios
{
namespace
{

using spoolsim::Machine;
using spoolsim::ToBytes;

DRVDEVMODE Duplex(short order)
{
    DRVDEVMODE dm = Settings();
    dm.sManualDuplex = 1;
    dm.sManualDuplexOrder = order;
    return dm;
}

const UINT kPromptStyle = MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL | MB_SETFOREGROUND;

std::vector<Item> Pass(const char *leadIn, const std::vector<int> &pages)
{
    std::vector<Item> items = {"h", leadIn};
    items.insert(items.end(), pages.begin(), pages.end());
    items.push_back("T");
    return items;
}

using ManualDuplex = JobTest;

// Which page goes on which sheet is held to the paper path (paperpath_test);
// here, what each pass's document holds around its pages, and the prompt.
TEST_F(ManualDuplex, EachPassIsACompleteDocumentAndThePromptComesBetween)
{
    DocumentJob job(Duplex(0), 4);
    RunResult r = Run(job);
    std::vector<const spoolsim::Document *> docs = r.PrinterDocuments();
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_PARTS(docs[0]->data, Layout(job, Pass("L1", {4, 2})));
    EXPECT_PARTS(docs[1]->data, Layout(job, Pass("L2", {1, 3})));
    EXPECT_TRUE(docs[0]->ended);
    EXPECT_EQ(docs[1]->name, job.documentName);
    EXPECT_EQ(docs[1]->datatype, WString(W("RAW")));
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, WString(W("Re-insert the sheets into Multi-purpose tray")));
    EXPECT_EQ(r.boxes[0].caption, WString(W("Manual Duplex")));
    EXPECT_EQ(r.boxes[0].style, kPromptStyle);
    EXPECT_TRUE(r.boxes[0].ownerNull);

    // One page needs no second side: one document, no prompt.
    DocumentJob one(Duplex(1), 1);
    RunResult r1 = Run(one);
    ASSERT_EQ(r1.PrinterDocuments().size(), 1u);
    EXPECT_PARTS(r1.PrinterDocument(0).data, Layout(one, Pass("L1", {1})));
    EXPECT_TRUE(r1.boxes.empty());
}

TEST_F(ManualDuplex, JobWithoutPagesSendsItsDataOnceWithoutPrompt)
{
    DocumentJob job(Duplex(0), 0);
    RunResult r = Run(job);
    ASSERT_EQ(r.PrinterDocuments().size(), 1u);
    EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, {"H", "T"}));
    EXPECT_TRUE(r.boxes.empty());
}

TEST_F(ManualDuplex, PromptAndNamesComeFromTheIniAndTheJob)
{
    Machine::WriteIni("[DUPLEX]\nMD_Message=Turn the stack over\nMD_CAPTION=Second side\n");
    DocumentJob job(Duplex(0), 2);
    job.documentName = WString();
    RunResult r = Run(job);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, WString(W("Turn the stack over")));
    EXPECT_EQ(r.boxes[0].caption, WString(W("Second side")));
    ASSERT_EQ(r.PrinterDocuments().size(), 2u);
    EXPECT_EQ(r.PrinterDocument(1).name, WString(W("Untitled")));

    // A name longer than the spooler's field keeps its first 259 characters.
    job.documentName = WString(300, 'n');
    RunResult longName = Run(job);
    EXPECT_EQ(longName.PrinterDocument(1).name, WString(259, 'n'));
}

class InstructionPage : public JobTest
{
  protected:
    void Install(const std::string &key, const Bytes &content)
    {
        Machine::WriteIni("[DUPLEX]\n" + key + "=\\instruct.prn\n");
        Machine::WriteFileBytes(spoolsim::DriverFile(W("instruct.prn")), content);
    }
};

TEST_F(InstructionPage, PrintedBeforeLeadInOneInPiecesOfThePrintBuffer)
{
    Bytes page(20000);
    for (size_t i = 0; i < page.size(); i++)
    {
        page[i] = static_cast<BYTE>('a' + i % 26);
    }
    Install("INSTRUCT_PORT", page);
    DRVDEVMODE dm = Duplex(0);
    dm.sInstructionPage = 1;
    DocumentJob job(dm, 2);
    RunResult r = Run(job);
    Parts expected = {P("header", job.ShortHeader()), P("instruction page", page)};
    Parts rest = Layout(job, {"L1", 2, "T"});
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_PARTS(r.PrinterDocument(0).data, expected);
    EXPECT_EQ(r.PrinterDocument(0).writes, (std::vector<DWORD>{12, 8192, 8192, 3616, 4, 8, 9}));
    EXPECT_PARTS(r.PrinterDocument(1).data, Layout(job, Pass("L2", {1})));
}

TEST_F(InstructionPage, LeftOutWhenNotAskedForNotNamedOrMissing)
{
    struct Case
    {
        const char *name;
        short instructionPage;
        short orientation;
        std::string key;
        bool file;
    } cases[] = {
        {"not asked for", 0, 1, "INSTRUCT_PORT", true},
        {"negative", -1, 1, "INSTRUCT_PORT", true},
        {"landscape job, only a portrait page", 1, 2, "INSTRUCT_PORT", true},
        {"named file missing", 1, 1, "INSTRUCT_PORT", false},
        {"orientation without a key", 1, 3, "INSTRUCT_PORT", true},
    };
    for (const Case &c : cases)
    {
        UseMachine();
        Install(c.key, ToBytes("<INSTRUCTIONS>"));
        if (!c.file)
        {
            Machine::Remove(spoolsim::DriverFile(W("instruct.prn")));
        }
        DRVDEVMODE dm = Duplex(0);
        dm.sInstructionPage = c.instructionPage;
        dm.dmPublic.dmOrientation = c.orientation;
        DocumentJob job(dm, 2);
        RunResult r = Run(job);
        EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, Pass("L1", {2}))) << c.name;
    }
    // A landscape job finds its own page.
    UseMachine();
    Install("INSTRUCT_LAND", ToBytes("<LANDSCAPE>"));
    DRVDEVMODE dm = Duplex(0);
    dm.sInstructionPage = 1;
    dm.dmPublic.dmOrientation = DMORIENT_LANDSCAPE;
    DocumentJob job(dm, 2);
    Parts expected = {P("header", job.ShortHeader()), P("instruction page", "<LANDSCAPE>")};
    Parts rest = Layout(job, {"L1", 2, "T"});
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_PARTS(Run(job).PrinterDocument(0).data, expected);
}

// Manual duplex takes precedence over reverse order and collation.
TEST_F(ManualDuplex, TakesPrecedenceOverReverseAndCollation)
{
    DRVDEVMODE dm = Duplex(0);
    dm.sReverseOrder = 1;
    dm.sCollate = 1;
    dm.dmPublic.dmCopies = 3;
    DocumentJob job(dm, 2);
    RunResult r = Run(job);
    ASSERT_EQ(r.PrinterDocuments().size(), 2u);
    EXPECT_PARTS(r.PrinterDocument(0).data, Layout(job, Pass("L1", {2})));
    EXPECT_PARTS(r.PrinterDocument(1).data, Layout(job, Pass("L2", {1})));
}

} // namespace
} // namespace scenarios
