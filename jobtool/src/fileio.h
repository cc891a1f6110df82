// Whole files read and written by the commands, with the reason when that fails.
#pragma once

#include "prepare.h"

#include <optional>
#include <string>

namespace jobtool
{

std::optional<Bytes> ReadFile(const std::string &path, std::string &error);
bool WriteFile(const std::string &path, const Bytes &data, std::string &error);
// The file name without folder and extension.
std::string Stem(const std::string &path);

} // namespace jobtool
