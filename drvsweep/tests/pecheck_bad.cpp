// A DLL with the faults the PE check must find: a decorated stdcall export
// (no .def names it), and imports from the C++ runtime's DLLs, which a build
// without the static runtime leaves.
#include <windows.h>

#include <string>

extern "C" __declspec(dllexport) BOOL WINAPI Bad(LPCSTR pszList)
{
    return std::string(pszList).find(',') != std::string::npos;
}
