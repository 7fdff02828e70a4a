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
bool FileExists(const char* name);
// Full path of the running executable; returns its length (0 on failure).
uint32_t ModulePath(char* dest, uint32_t size);

// ---- Locks, events, threads --------------------------------------------------
struct PlatformMutex;   // re-entrant
PlatformMutex* MutexCreate();
void MutexDestroy(PlatformMutex* mutex);
void MutexLock(PlatformMutex* mutex);
bool MutexTryLock(PlatformMutex* mutex);  // true = taken without waiting
void MutexUnlock(PlatformMutex* mutex);
// Waits until the caller owns both mutexes (one wait for either, then the other).
void MutexLockBoth(PlatformMutex* a, PlatformMutex* b);

struct PlatformEvent;   // auto-reset
PlatformEvent* EventCreate();
void EventDestroy(PlatformEvent* event);
void EventSet(PlatformEvent* event);
// true when the event was set within timeout_ms (it is then reset).
bool EventWait(PlatformEvent* event, uint32_t timeout_ms);

struct PlatformThread;
using PlatformThreadFn = uint32_t (*)(void* arg);
// The thread does not run until ThreadResume.
PlatformThread* ThreadCreateSuspended(PlatformThreadFn fn, void* arg);
void ThreadResume(PlatformThread* thread);
// Waits for the thread to end and releases it.
void ThreadJoin(PlatformThread* thread);

void SleepMs(uint32_t ms);

// ---- Clock sources of the engine clock ---------------------------------------
// The high-resolution counter: false when the machine has none.
bool HighResFrequency(uint64_t* ticks_per_second);
uint64_t HighResCounter();
// The millisecond multimedia timer (wraps after 49.7 days).
uint32_t TimerMs();

// ---- User profile, date, shell -------------------------------------------------
// Profile strings (Windows: the user's profile; POSIX: an INI file under the
// user's config directory). Returns the length copied into dest.
uint32_t ProfileGetString(const char* section, const char* key, const char* fallback,
                          char* dest, uint32_t size);
bool ProfileWriteString(const char* section, const char* key, const char* value);

struct LocalDate {
  int year, month, day;
};
LocalDate LocalDateToday();

enum MessageBoxKind { MESSAGE_INFO, MESSAGE_ERROR, MESSAGE_QUESTION };
// Shows a modal message box (POSIX: prints to stderr; a question answers no
// unless VORN_ANSWER=yes). Returns true for OK/Yes.
bool MessageBoxShow(const char* text, const char* caption, MessageBoxKind kind);
bool OpenUrl(const char* url);
