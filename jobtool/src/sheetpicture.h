// The picture of the sheets from what a run or explain found: every page
// of every printer document as a sheet side, a booklet sheet with its two
// pages in their halves, the marks the hook added, and the turn of the
// stack between the passes of a two-pass job. Thumbnails come from the
// document the job was made from, when it was PDF or PostScript.
#pragma once

#include "pagemap.h"
#include "picture.h"
#include "thumbnails.h"

#include <memory>
#include <string>
#include <vector>

namespace jobtool
{

struct PrintedDocument
{
    std::string title; // "document 1: out/job-1.pxl"
    PageMap map;
};

// The paper of a page map entry's detail ("landscape A4"), in inches as
// the page lies; A4 portrait when the detail names no paper the tool knows.
void PageSizeOf(const std::string &detail, double &widthInch, double &heightInch);

Picture PictureOf(const std::string &title, const std::vector<PrintedDocument> &documents,
                  const std::vector<std::string> &turn);

// Thumbnails of the job's source, rendered once; null and why when there
// is no source or it cannot be rendered (the picture then shows numbers).
std::unique_ptr<Thumbnails> SourceThumbnails(const std::string &source, std::string &why);

// Writes the picture; false and why when it cannot be written.
bool WriteSheetPicture(const std::string &path, const Picture &picture, const Thumbnails *thumbnails,
                       std::string &error);

} // namespace jobtool
