// Jobs side by side. The spooler calls the hooks of several jobs at once,
// each hook of a job on whichever of its threads is free, and the watermark
// job that GDI starts from inside a job's write comes back through the
// spooler on yet another thread. So no hook waits for another job: what a job
// keeps is its own (the job context), and the few things that jobs do share
// are handled here.
//
// Files that the design names once for the whole driver directory (the
// watermark file of each orientation, textout.teq) are claimed: a job works
// under the name when no other open job does, and under a name of its own in
// the driver directory otherwise, so two jobs never read each other's data
// and a job alone behaves exactly as the name says. The jobs section guards
// the claims and the short steps that must not interleave between jobs; it
// is never held across a message box or a printer write, which may wait for
// a person or a printer for as long as they like.
#include "hookcore.h"

CRITICAL_SECTION UmpdSection;

// The job that works under each shared name, NULL when none does.
static PSPLDATA g_apSharedHolder[SHARED_FILES];

static_assert(WM_PORTRAIT == 0 && WM_LANDSCAPE == 1 && SHARED_TEXTOUT == 2, "shared file indexes");
static const LPCWSTR apszSharedSuffix[SHARED_FILES] = {
    WATERMARK_PORTRAIT_SUFFIX,
    WATERMARK_LANDSCAPE_SUFFIX,
    TEXTOUT_FILE_SUFFIX,
};

// Prefixes of the names a job makes for itself when the shared one is taken.
static const LPCWSTR apszOwnPrefix[SHARED_FILES] = {W("WMP"), W("WML"), W("TXT")};

void InitJobCoordination(void)
{
    InitializeCriticalSection(&UmpdSection);
}

void EnterJobsSection(void)
{
    EnterCriticalSection(&UmpdSection);
}

void LeaveJobsSection(void)
{
    LeaveCriticalSection(&UmpdSection);
}

BOOL ClaimSharedFile(PSPLDATA pData, INT iFile, LPWSTR pszPath)
{
    WCHAR szDir[MAX_PATH];
    BOOL bShared;

    if (iFile < 0 || iFile >= SHARED_FILES)
    {
        return FALSE;
    }
    EnterJobsSection();
    bShared = g_apSharedHolder[iFile] == NULL || g_apSharedHolder[iFile] == pData;
    if (bShared)
    {
        g_apSharedHolder[iFile] = pData;
    }
    LeaveJobsSection();

    if (bShared)
    {
        if (BuildDriverPath(pszPath, MAX_PATH, apszSharedSuffix[iFile]))
        {
            return TRUE;
        }
        ReleaseSharedFile(pData, iFile);
        return FALSE;
    }
    // GetTempFileNameW makes the file, so the name stays the job's.
    OutputDebugStringW(W("QVXLUMPD: shared file in use by another job, using a file of this job's own\n"));
    pszPath[0] = 0;
    return BuildDriverPath(szDir, MAX_PATH, DRIVER_DIR_SUFFIX) &&
           GetTempFileNameW(szDir, apszOwnPrefix[iFile], 0, pszPath) != 0;
}

BOOL HoldsSharedFile(PSPLDATA pData, INT iFile)
{
    BOOL bHolds;

    if (iFile < 0 || iFile >= SHARED_FILES)
    {
        return FALSE;
    }
    EnterJobsSection();
    bHolds = g_apSharedHolder[iFile] == pData;
    LeaveJobsSection();
    return bHolds;
}

BOOL ReleaseSharedFile(PSPLDATA pData, INT iFile)
{
    BOOL bShared = FALSE;

    if (iFile < 0 || iFile >= SHARED_FILES)
    {
        return FALSE;
    }
    EnterJobsSection();
    if (g_apSharedHolder[iFile] == pData)
    {
        g_apSharedHolder[iFile] = NULL;
        bShared = TRUE;
    }
    LeaveJobsSection();
    return bShared;
}
