// setuptidy: removes what the setup program leaves in the per-maker folder
// under the Windows directory. The operations of the program, for its
// start-up code and its tests.
#pragma once

#include <windows.h>

#include <string>

// The company name used when the command line names none.
#define DEFAULT_COMPANY "Vantora"

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

// "/C" company "/F" folder, or "/" folder with the default company. Blanks
// are dropped. Never fails.
void ParseCommandLine(LPCSTR pszCmdLine, std::string &strCompany, std::string &strFolder);

// Deletes Setup.exe from the folder directory (which ends in a backslash)
// unless Setup.inx lies beside it. TRUE when it was deleted.
BOOL DeleteOrphanSetup(LPCSTR pszFolderDir);

// Removes the directory if it is empty.
BOOL RemoveEmptyDirectory(LPCSTR pszDir);
