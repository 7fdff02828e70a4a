// The thin operating-system layer: everything the portable core needs from
// Windows or POSIX. Nothing outside src/platform, src/display, src/sound and
// the window code of src/player includes an operating-system header.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- Files -----------------------------------------------------------------
// A file handle as the engine stores it (Windows HANDLE or POSIX descriptor).
using PlatformFile = intptr_t;
inline constexpr PlatformFile kInvalidFile = -1;

// Opens an existing file for reading; share_write also lets other processes
// write it (the reader's second attempt). Returns kInvalidFile on failure.
PlatformFile FileOpenRead(const char* name, bool share_write);
// Creates or truncates a file for writing (tools only).
PlatformFile FileOpenWrite(const char* name);
// Reads up to size bytes; returns the count read (0 at end or on error).
uint32_t FileRead(PlatformFile file, void* dest, uint32_t size);
uint32_t FileWrite(PlatformFile file, const void* src, uint32_t size);
// Absolute positioning and the current position; -1 on error.
bool FileSeek(PlatformFile file, uint64_t pos);
int64_t FileTell(PlatformFile file);
int64_t FileSize(PlatformFile file);
void FileClose(PlatformFile file);
// true for an existing file (not a directory).
bool FileExists(const char* name);
// true when the standard error stream goes to a terminal (tools draw
// progress lines only there).
bool StderrIsTerminal();
// Standard input and output carry bytes unchanged (Windows would otherwise
// translate line ends); tools call it before piping media through them.
void StdioSetBinary();
// Full path of the running executable; returns its length (0 on failure,
// also when it does not fit: a cut path is never returned).
uint32_t ModulePath(char* dest, uint32_t size);

// ---- Locks, events, threads --------------------------------------------------
struct PlatformMutex;   // re-entrant
PlatformMutex* MutexCreate();
void MutexDestroy(PlatformMutex* mutex);
void MutexLock(PlatformMutex* mutex);
bool MutexTryLock(PlatformMutex* mutex);  // true = taken without waiting
void MutexUnlock(PlatformMutex* mutex);
// Waits until the caller owns both mutexes (one wait for either, then the other).
// A null argument is skipped; the same mutex twice is taken twice. Only one
// thread may wait for a pair this way (the player's; service threads only
// try): two such waiters can each take one and wait for the other for ever.
void MutexLockBoth(PlatformMutex* a, PlatformMutex* b);

// Waiting without a time limit (INFINITE on Windows).
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

struct PlatformEvent;   // auto-reset
PlatformEvent* EventCreate();
void EventDestroy(PlatformEvent* event);
void EventSet(PlatformEvent* event);
// true when the event was set within timeout_ms (it is then reset);
// kWaitForever waits without a limit.
bool EventWait(PlatformEvent* event, uint32_t timeout_ms);

struct PlatformThread;
using PlatformThreadFn = uint32_t (*)(void* arg);
// The thread does not run until ThreadResume. Null when it cannot be created.
PlatformThread* ThreadCreateSuspended(PlatformThreadFn fn, void* arg);
void ThreadResume(PlatformThread* thread);
// Waits for the thread to end and releases it. A thread never resumed ends
// without running its function.
void ThreadJoin(PlatformThread* thread);

void SleepMs(uint32_t ms);
// Processors this process may run on (at least 1).
uint32_t ProcessorCount();

// ---- Clock sources of the engine clock ---------------------------------------
// The high-resolution counter: false when the machine has none.
bool HighResFrequency(uint64_t* ticks_per_second);
uint64_t HighResCounter();
// The millisecond multimedia timer (wraps after 49.7 days).
uint32_t TimerMs();

// ---- User profile, date, shell -------------------------------------------------
// Profile strings (Windows: the user's profile; POSIX: an INI file under the
// user's config directory, $XDG_CONFIG_HOME or ~/.config, vorn/profile.ini).
// Returns the length copied into dest: the value, or fallback when the key is
// missing, cut to size - 1 characters and always terminated. Section and key
// names ignore case.
uint32_t ProfileGetString(const char* section, const char* key, const char* fallback,
                          char* dest, uint32_t size);
// A null value deletes the key, a null key the whole section. Names or values
// that would break the profile's structure (line breaks, brackets in a
// section name, '=' in a key) are refused.
bool ProfileWriteString(const char* section, const char* key, const char* value);

struct LocalDate {
  int year, month, day;
};
LocalDate LocalDateToday();

enum MessageBoxKind { MESSAGE_INFO, MESSAGE_ERROR, MESSAGE_QUESTION };
// Shows a modal message box (POSIX: prints to stderr; a question answers no
// unless VORN_ANSWER=yes). Returns true for OK/Yes. owner_window is the
// owning window's HWND on Windows (null: none). On Windows too, a set
// VORN_ANSWER=yes|no skips the box (printed to stderr instead) so that
// unattended runs never block on one.
bool MessageBoxShow(const char* text, const char* caption, MessageBoxKind kind,
                    void* owner_window = nullptr);
// Opens a web page with the desktop's browser without waiting for it
// (Windows: the shell's "open" verb; POSIX: xdg-open). false when no opener
// is available or the URL is refused.
bool OpenUrl(const char* url);
