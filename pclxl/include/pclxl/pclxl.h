// Everything of the PCL XL library in one include.
#pragma once

#include "pclxl/describe.h"
#include "pclxl/document.h"
#include "pclxl/protocol.h"
#include "pclxl/reader.h"
#include "pclxl/structure.h"
#include "pclxl/writer.h"
