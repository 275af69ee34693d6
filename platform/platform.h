// The platform table: every system service the two programs use.
// Program logic includes this header and nothing OS-specific; the build links
// exactly one backend (in-memory fake, POSIX device simulator, or Win32).
// All text is UTF-16 code units, terminated by a zero unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Opaque handle types; each backend defines them.
struct Stream;          // text/binary stream opened by mode
struct File;            // file opened for raw byte transfer
struct Find;            // directory search in progress
struct Module;          // the program instance or a loaded library
struct Object;          // waitable kernel object: thread, process, mutex
struct Window;          // dialog or dialog control
struct DialogTemplate;  // dialog template loaded from the program's resources

using RegKey = std::uintptr_t;  // registry key handle, or one of the roots below
inline constexpr RegKey kHkeyClassesRoot = 0x80000000u;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;     // wait without time-out
inline constexpr std::uint32_t kWaitObject0 = 0;            // wait: object signalled
inline constexpr std::uint32_t kWaitTimeout = 258;          // wait: time-out elapsed
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;   // wait: bad handle
inline constexpr std::size_t kMaxPath = 260;                // path buffer, terminator included

// Last-error codes as the device reports them.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorModNotFound = 126;
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorBadExeFormat = 193;

// One argument of a debug print: a wide string (%s) or a 32-bit integer (%d, %i).
struct DebugArg {
  DebugArg(const char16_t* s) : text(s) {}
  DebugArg(std::int32_t v) : number(v), isText(false) {}
  DebugArg(std::uint32_t v) : number(static_cast<std::int32_t>(v)), isText(false) {}
  const char16_t* text = nullptr;
  std::int32_t number = 0;
  bool isText = true;
};

// ---- Debug output ----
// Formats fmt with args (%s, %d, %i, %%) and writes the text to the debug channel.
void DebugPrintArgs(const char16_t* fmt, const DebugArg* args, std::size_t count);
// Writes already formatted text to the debug channel, unchanged.
void DebugOutput(const char16_t* text);
// Formatted debug print of a wide format string.
template <typename... A>
void DebugPrint(const char16_t* fmt, A... args) {
  const DebugArg list[sizeof...(A) + 1] = {DebugArg(args)..., DebugArg(u"")};
  DebugPrintArgs(fmt, list, sizeof...(A));
}

// ---- Errors ----
// The calling thread's last-error code.
std::uint32_t LastError();
// Sets the calling thread's last-error code.
void SetLastErrorCode(std::uint32_t code);

// ---- Streams ----
// Opens a stream by path with mode "rt", "r+b" or "w+b"; nullptr on failure.
Stream* StreamOpen(const char16_t* path, const char16_t* mode);
// Reads at most n-1 units of text, stopping after a line feed (kept); nullptr and buffer untouched when nothing was read.
// When count is given it receives the units stored, zero units in the text included.
char16_t* StreamReadLine(char16_t* buffer, int n, Stream* stream, std::size_t* count = nullptr);
// Reads one 4-byte little-endian item; returns the number of whole items read (0 or 1).
std::size_t StreamReadInt32(std::int32_t* value, Stream* stream);
// Writes one 4-byte little-endian item; returns the number of items written (0 or 1).
std::size_t StreamWriteInt32(std::int32_t value, Stream* stream);
// Moves to the start of the stream and clears its end-of-file and error indicators.
void StreamRewind(Stream* stream);
// True once a read has met the end of the stream.
bool StreamAtEof(Stream* stream);
// True once a read or write on the stream has failed.
bool StreamHasError(Stream* stream);
// Closes the stream (flushing what was written); 0 on success.
int StreamClose(Stream* stream);

// ---- Files ----
// Opens an existing file for reading, without sharing; nullptr on failure.
File* FileOpenRead(const char16_t* path);
// Creates or truncates a file for writing, without sharing; nullptr on failure.
File* FileCreateWrite(const char16_t* path);
// Reads up to n bytes; *got is 0 at end of file. False on failure.
bool FileRead(File* file, void* buffer, std::uint32_t n, std::uint32_t* got);
// Writes n bytes; *written reports the count. False on failure.
bool FileWrite(File* file, const void* buffer, std::uint32_t n, std::uint32_t* written);
// Closes the file.
bool FileClose(File* file);
// Deletes a file (not a folder); false on failure.
bool FileDelete(const char16_t* path);

// One result of a directory search: the bare name of the match.
struct FindData {
  char16_t name[kMaxPath];
  std::uint32_t attributes;  // 0x10 for a directory, 0x80 for a normal file
};
// Starts a search for names matching a path whose last element may hold * and ?; nullptr when nothing matches.
Find* FindFirst(const char16_t* pattern, FindData* data);
// Yields the next match; false when there is none left.
bool FindNextMatch(Find* find, FindData* data);
// Ends a directory search.
bool FindEnd(Find* find);
// Creates one directory.
bool MakeDirectory(const char16_t* path);

// ---- Modules ----
// Full path of the running executable into buffer (capacity units); returns its length, 0 on failure.
std::uint32_t ModuleFileName(char16_t* buffer, std::uint32_t capacity);
// Loads a library by path; nullptr on failure.
Module* LibraryLoad(const char16_t* path);
// An exported function taking no arguments and returning a 32-bit status.
using ExportProc = std::int32_t (*)();
// Looks up an export by its wide name; nullptr when missing.
ExportProc LibraryExport(Module* library, const char16_t* name);
// Unloads a library.
bool LibraryFree(Module* library);

// ---- Processes ----
// Starts a program with an optional command line (nullptr for none); returns its process handle or nullptr.
Object* ProcessStart(const char16_t* application, const char16_t* commandLine);

// ---- Sync ----
// Waits on a handle up to timeoutMs (kInfinite for ever); kWaitObject0, kWaitTimeout or kWaitFailed.
std::uint32_t WaitObject(Object* object, std::uint32_t timeoutMs);
// Closes a handle of a thread, process or mutex.
bool ObjectClose(Object* object);
// Thread entry: one parameter, returns the exit code.
using ThreadProc = std::uint32_t (*)(void* parameter);
// Starts a thread running proc(parameter); returns its handle or nullptr.
Object* ThreadStart(ThreadProc proc, void* parameter);
// Creates a named mutex; also succeeds for an existing name, LastError() then being 183.
Object* MutexCreateNamed(const char16_t* name, bool initiallyOwned);

// ---- Registry ----
// Creates or opens subKey below root with the access mask; 0 or an error code.
std::int32_t RegKeyCreate(RegKey root, const char16_t* subKey, std::uint32_t access, RegKey* key,
                          std::uint32_t* disposition);
// Sets a named value with type, data and byte count passed through unchanged; 0 or an error code.
std::int32_t RegValueSet(RegKey key, const char16_t* name, std::uint32_t type, const void* data,
                         std::uint32_t size);
// Closes a key opened by RegKeyCreate.
std::int32_t RegKeyClose(RegKey key);

// ---- Windowing ----
// Dialog procedure: message, wParam, lParam; returns nonzero when it handled the message.
using DialogProc = std::intptr_t (*)(Window* dialog, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam);
// Finds and loads dialog template id (resource type 5) of module; nullptr when missing.
const DialogTemplate* DialogTemplateLoad(Module* module, int id);
// Creates a modeless dialog from a template, without owner; nullptr on failure.
Window* DialogCreate(Module* module, const DialogTemplate* dialogTemplate, DialogProc proc,
                     std::intptr_t parameter);
// The control of a dialog with the given identifier; nullptr when missing.
Window* DialogItem(Window* dialog, int id);
// Sets a window's text.
bool WindowSetText(Window* window, const char16_t* text);
// Repaints the window at once, inside the call.
bool WindowRepaint(Window* window);
// Destroys a window.
bool WindowDestroy(Window* window);
// Loads cursor id of module (both may be null) and makes it the current cursor.
void CursorSet(Module* module, std::uintptr_t cursorId);

// ---- Program entry ----
// Defined by each program: its entry, given the instance and the command line after the program's name.
int AppMain(Module* instance, const char16_t* commandLine);

}  // namespace plat
