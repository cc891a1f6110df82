// Start-up of setuptidy on the Linux build, where no runtime calls WinMain:
// it hands WinMain the command line tail as the Windows start-up code does,
// the arguments after the program name joined with single blanks.
#include <windows.h>

#include <string>

#include "setuptidy.h"

int main(int argc, char **argv)
{
    std::string strTail;
    for (int i = 1; i < argc; i++)
    {
        if (i > 1)
        {
            strTail += ' ';
        }
        strTail += argv[i];
    }
    const int nShowDefault = 10; // SW_SHOWDEFAULT, what a started program gets
    return WinMain(NULL, NULL, &strTail[0], nShowDefault);
}
