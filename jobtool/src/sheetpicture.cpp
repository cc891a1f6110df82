#include "sheetpicture.h"

#include <cctype>
#include <filesystem>

namespace jobtool
{

namespace
{

struct PaperInches
{
    const char *name; // as the page map names it, lower case
    double width;     // portrait
    double height;
};

const PaperInches kPapers[] = {
    {"letter", 8.5, 11},     {"legal", 8.5, 14},   {"a4", 8.27, 11.69},       {"executive", 7.25, 10.5},
    {"ledger", 11, 17},      {"a3", 11.69, 16.54}, {"a5", 5.83, 8.27},        {"jisb5", 7.17, 10.12},
    {"jisb4", 10.12, 14.33}, {"b5", 6.93, 9.84},   {"com10", 4.12, 9.5},      {"monarch", 3.88, 7.5},
    {"c5", 6.38, 9.02},      {"dl", 4.33, 8.66},   {"jpostcard", 3.94, 5.83}, {"jdoublepostcard", 7.87, 5.83},
};

std::string LowerWord(const std::string &s)
{
    std::string out;
    for (char c : s)
    {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

PicturePage PageWithMarks(const Entry &e)
{
    PicturePage p;
    for (const Fragment &f : e.fragments)
    {
        if (f.kind == "watermark")
        {
            p.watermark = f.text.size() >= 2 && f.text.front() == '"' ? f.text.substr(1, f.text.size() - 2) : f.text;
        }
        else if (f.kind.find("overlay") != std::string::npos)
        {
            p.overlay = true;
        }
    }
    return p;
}

std::string LeadIn(const Entry &e)
{
    for (const Fragment &f : e.fragments)
    {
        if (f.kind.compare(0, 7, "lead-in") == 0)
        {
            return f.kind + (f.text.empty() ? "" : ": " + f.text);
        }
    }
    return std::string();
}

} // namespace

void PageSizeOf(const std::string &detail, double &widthInch, double &heightInch)
{
    widthInch = 8.27;
    heightInch = 11.69;
    const std::string d = LowerWord(detail);
    size_t at = 0;
    bool landscape = false;
    while (at < d.size())
    {
        size_t end = d.find_first_of(" ,;()", at);
        end = end == std::string::npos ? d.size() : end;
        const std::string word = d.substr(at, end - at);
        at = end + 1;
        if (word == "landscape" || word == "reverselandscape")
        {
            landscape = true;
        }
        for (const PaperInches &p : kPapers)
        {
            if (word == p.name)
            {
                widthInch = p.width;
                heightInch = p.height;
            }
        }
    }
    if (landscape)
    {
        std::swap(widthInch, heightInch);
    }
}

Picture PictureOf(const std::string &title, const std::vector<PrintedDocument> &documents,
                  const std::vector<std::string> &turn)
{
    Picture picture;
    picture.title = title;
    picture.turn = documents.size() > 1 ? turn : std::vector<std::string>();
    for (const PrintedDocument &doc : documents)
    {
        PictureDocument d;
        d.title = doc.title;
        for (const Entry *e : doc.map.Pages())
        {
            PictureSide side;
            PageSizeOf(e->detail, side.widthInch, side.heightInch);
            side.leadIn = LeadIn(*e);
            PicturePage page = PageWithMarks(*e);
            page.widthInch = side.widthInch;
            page.heightInch = side.heightInch;
            switch (e->kind)
            {
            case EntryKind::InstructionPage:
                page.instructionPage = true;
                side.pages.push_back(page);
                break;
            case EntryKind::Sheet: {
                // A sheet lying on its long side folds upright: left and
                // right halves; standing, it folds across: top and bottom.
                const bool across = side.widthInch >= side.heightInch;
                for (int h = 0; h < 2; h++)
                {
                    PicturePage half = page;
                    half.page = e->halves[h];
                    half.slot = across ? (h == 0 ? Slot::Left : Slot::Right) : (h == 0 ? Slot::Top : Slot::Bottom);
                    half.widthInch = across ? side.widthInch / 2 : side.widthInch;
                    half.heightInch = across ? side.heightInch : side.heightInch / 2;
                    side.pages.push_back(half);
                }
                side.label = "sheet side " + std::to_string(d.sides.size() + 1);
                break;
            }
            default:
                page.page = e->inputPage;
                if (e->inputPage <= 0)
                {
                    side.note = "matches no input page";
                }
                side.pages.push_back(page);
                break;
            }
            d.sides.push_back(side);
        }
        picture.documents.push_back(d);
    }
    return picture;
}

std::unique_ptr<Thumbnails> SourceThumbnails(const std::string &source, std::string &why)
{
    if (source.empty())
    {
        why = "the job was made from PCL XL";
        return nullptr;
    }
    std::error_code ec;
    if (!std::filesystem::exists(source, ec))
    {
        why = "its source " + source + " is no longer there";
        return nullptr;
    }
    return Thumbnails::Render(source, why);
}

bool WriteSheetPicture(const std::string &path, const Picture &picture, const Thumbnails *thumbnails,
                       std::string &error)
{
    ThumbnailSource source;
    if (thumbnails != nullptr)
    {
        source = [thumbnails](int page) { return thumbnails->Png(page); };
    }
    return WritePicture(path, picture, source, error);
}

} // namespace jobtool
