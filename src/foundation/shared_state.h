#pragma once

#include <windows.h>

namespace kvshake {

// Machine-wide state. The block lives in the module's shared data section "shake_da": every
// process that has the module loaded maps the same memory, the loader fills it with zeros for
// the first process, and it starts from zeros again once the last process has unloaded the
// module. Handles and thread ids stored here are values of the process that stored them.
struct SharedBlock {
    HWND g_hwnd;                 // the panel window, one for the machine
    HWND g_HideWindowHwnd;       // hidden message window of the tab in front
    bool g_bFrontTabSeen;        // that tab was seen by the user, not merely the newest
    HWND g_NeedRemoveTipHwnd;    // hidden message window of the tab showing the tip
    HANDLE g_hMutexForChecking;  // current holder's handle of "mutexForChecking"
    HANDLE g_hMutexForActive;    // current holder's handle of "mutexForActive"
    bool g_bInited;              // the first attach of this machine run has done its one-time work
    bool g_bActive;              // activated with the service; only under "mutexForActive"
    bool g_bHasCheckThread;  // some check thread holds the checker role; under "mutexForChecking"
    bool g_bWindowCreated;   // a panel was made and has not been destroyed since
    bool g_bLogEnabled;      // the diagnostic log is on for this machine run
    bool g_bFindButton;      // the last toolbar command found the button under the cursor
    DWORD g_dwDeadThreadId;  // the check thread that must stop
    RECT g_rcLocate;         // anchor rectangle for placing the panel
    POINT g_ptLocate;        // anchor point for placing the panel
    LONG ButtonLocateType;   // where the toolbar command came from: 0 toolbar, 1 page, 2 other
    LONG g_nNextTabNum;      // next tab number to hand out
    LONG g_nTabNum;          // open tabs over all processes
    LONG g_nCheckTabNum;     // tab whose check thread holds the checker role
    LONG g_nIEVersion;       // browser major version, 0 until detected
    // The process whose check thread holds the checker role; under "mutexForChecking". A role
    // left behind by a process that has ended is taken over.
    DWORD g_dwCheckProcessId;
};

// The second shared block: the log writers' current holder's handle of "mutexForWrite".
struct SharedWriteBlock {
    HANDLE g_hMutexForWrite;
};

extern SharedBlock shake_da;
extern SharedWriteBlock shake_da_write;

}  // namespace kvshake
