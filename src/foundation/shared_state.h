#pragma once

#include <windows.h>

#include <string>

#include "foundation/unique_resource.h"

namespace kvshake {

// A window handle kept as its 32-bit value: window handles are 32-bit in both widths of Windows,
// so a process of either width reads what the other wrote. The block may be written by any
// process of the user, so a window read from it is acted on only after checking its class.
class SharedWindow {
  public:
    SharedWindow& operator=(HWND window) noexcept {
        value_ = HandleToLong(window);
        return *this;
    }
    operator HWND() const noexcept { return static_cast<HWND>(LongToHandle(value_)); }

    // Puts replacement in place of expected; false, with nothing changed, when another window
    // is there.
    bool Exchange(HWND expected, HWND replacement) noexcept {
        return ::InterlockedCompareExchange(&value_, HandleToLong(replacement),
                                            HandleToLong(expected)) == HandleToLong(expected);
    }

  private:
    LONG value_;
};

// The state of one machine run, one for every process of the user in the session, of either
// width and from whichever copy of the module: a named file mapping that the first need of a
// process opens or creates, all zero when made, gone with the last process that holds it. Its
// layout is the same for every width and build; nothing in it means something in one process
// only (no kernel handles, no pointers). Process and thread ids are 32-bit everywhere.
struct SharedBlock {
    SharedWindow g_hwnd;               // the panel window, one for the machine run
    SharedWindow g_HideWindowHwnd;     // hidden message window of the tab in front
    SharedWindow g_NeedRemoveTipHwnd;  // hidden message window of the tab showing the tip
    bool g_bInited;          // the first attach of this machine run has done its one-time work
    bool g_bActive;          // activated with the service; only under "mutexForActive"
    bool g_bHasCheckThread;  // some check thread holds the checker role; under "mutexForChecking"
    bool g_bWindowCreated;   // a panel was made and has not been destroyed since
    bool g_bLogEnabled;      // the diagnostic log is on for this machine run
    bool g_bFindButton;      // the last toolbar command found the button under the cursor
    bool g_bFrontTabSeen;    // the tab in front was seen by the user, not merely the newest
    RECT g_rcLocate;         // anchor rectangle for placing the panel
    POINT g_ptLocate;        // anchor point for placing the panel
    LONG ButtonLocateType;   // where the toolbar command came from: 0 toolbar, 1 page, 2 other
    LONG g_nNextTabNum;      // next tab number to hand out
    LONG g_nTabNum;          // open tabs over all processes
    LONG g_nCheckTabNum;     // tab whose check thread holds the checker role
    LONG g_nIEVersion;       // browser major version, 0 until detected
    // The process whose check thread holds the checker role, by its id and its creation time
    // (0 where it could not be read); under "mutexForChecking". A role left behind by a process
    // that has ended is taken over.
    DWORD g_dwCheckProcessId;
    DWORD g_dwCheckProcessCreatedLow;
    DWORD g_dwCheckProcessCreatedHigh;
};

// The layout is part of the block's name; a change of it makes a new name.
inline constexpr int kSharedBlockLayout = 1;
static_assert(sizeof(SharedWindow) == 4 && sizeof(bool) == 1 && sizeof(LONG) == 4);
static_assert(sizeof(SharedBlock) == 76, "the layout changed: raise kSharedBlockLayout");

// The machine run of this process: opened or created on the first call (never call it under the
// loader lock). Where the user's block cannot be had or was made by someone else, this process
// goes on with a block of its own.
SharedBlock& SharedState() noexcept;

// What the threads of this process keep for themselves: the handles of the named mutexes that
// they hold, values of this process alone.
struct MutexHolders {
    HANDLE g_hMutexForChecking;  // current holder's handle of "mutexForChecking"
    HANDLE g_hMutexForActive;    // current holder's handle of "mutexForActive"
    HANDLE g_hMutexForWrite;     // current holder's handle of "mutexForWrite"
};
extern MutexHolders mutex_holders;

// The user's SID in its string form; empty when the process token cannot be read.
std::wstring CurrentUserSid();

// The name of the user's block in the session's namespace. Test builds add the base name of the
// image that holds the module's code, so that every test program and the helper processes that
// load the module each have a machine run of their own.
std::wstring SharedBlockName(const std::wstring& userSid, HMODULE image);

// The descriptor the block is made with: the user alone, at any integrity level; null when none
// could be made.
unique_hlocal SharedBlockSecurity(const std::wstring& userSid) noexcept;

// A view of the block of that name, made with SharedBlockSecurity when there is none. One made
// by another owner or open to anyone but the user is refused, and that is logged.
class SharedBlockMapping {
  public:
    static SharedBlockMapping Open(const std::wstring& name, const std::wstring& userSid) noexcept;
    SharedBlock* Block() const noexcept { return static_cast<SharedBlock*>(view_.get()); }

  private:
    unique_handle mapping_;
    unique_view view_;
};

}  // namespace kvshake
