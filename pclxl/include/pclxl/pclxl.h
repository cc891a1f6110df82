// Everything of the PCL XL library in one include.
#pragma once

#include "pclxl/bytesource.h"
#include "pclxl/commandreader.h"
#include "pclxl/describe.h"
#include "pclxl/document.h"
#include "pclxl/documentstream.h"
#include "pclxl/pagegeometry.h"
#include "pclxl/printability.h"
#include "pclxl/protocol.h"
#include "pclxl/reader.h"
#include "pclxl/relocate.h"
#include "pclxl/structure.h"
#include "pclxl/writer.h"
