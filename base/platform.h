// The platform seam: everything the tool needs from the operating system.
// The POSIX implementation lives in platform_posix.cpp; a Windows build fills
// the same declarations with the Win32 calls named beside each of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallo::platform {

// Native error codes are errno values on POSIX and GetLastError() values on
// Windows. The tool's messages use the Windows codes; NeutralErrorCode maps a
// native code to them (identity on Windows). The mapping on POSIX:
//   ENOENT (the file's folder exists)       -> 2   "File not found"
//   ENOENT (the folder is missing), ENOTDIR -> 3   "Invalid filename"
//   EMFILE, ENFILE                          -> 4   "Too many open files"
//   EACCES, EPERM, EROFS, EISDIR            -> 5   "File access denied"
//   EWOULDBLOCK (a share-mode lock held)    -> 32  sharing violation
//   ENOSPC, EDQUOT                          -> 101 "Disk full"
//   anything else                           -> 1000 + errno ("I/O error %d")
int NeutralErrorCode(int native_code, const std::string& path);

// The native code File::Open answers for a name that is no regular file (a
// FIFO, a device, a socket): the tool reads and writes only regular files,
// and opening anything else could block or never end. Its system text is
// "Not a regular file"; its neutral code is 5.
inline constexpr int kNotRegularFile = -2;

// The system's text for a native error code, with every trailing character of
// code 32 or less and every trailing period removed (FormatMessageA / strerror).
std::string SystemErrorText(int native_code);

// The name made absolute against the current directory (GetFullPathNameA).
// Purely textual: "." and ".." segments are folded, links are not resolved.
std::string FullPath(const std::string& name);

// A file name as Windows-1251 text, for messages and questions. Names are
// the system's own bytes: UTF-8 on POSIX systems, where a valid UTF-8 name is
// converted (a character the code page lacks becomes "?") and any other name
// is taken as Windows-1251 already; the ANSI name itself on Windows.
std::string FileNameText(const std::string& name);

// Opens /dev/null on each of the standard descriptors 0, 1 and 2 that is not
// open, so no file the process opens later takes one of their numbers (and
// receives what is meant for the terminal). Call first thing in main.
void EnsureStandardDescriptors();

// The executable's own full path (GetModuleFileNameA with a null module).
std::string ExecutablePath();

// The folder of a path, up to and including its last path delimiter.
std::string FolderOf(const std::string& path);

// True for an existing regular file; false for a folder or nothing
// (FindFirstFileA on the name, excluding directories).
bool FileExists(const std::string& name);

// Whether the name is a symbolic link (which the tool replaces, never
// follows, where it writes).
bool IsSymbolicLink(const std::string& name);

// The file a symbolic link finally leads to, as a full path; empty when it
// leads nowhere (GetFinalPathNameByHandleA on the opened link).
std::string LinkTarget(const std::string& name);

// What a name names (GetFileAttributesA): nothing (the name is free), a
// regular file, something else (a folder, a device), or Unknown when the
// system could not tell (no access to its folder, say).
enum class NameKind { Nothing, RegularFile, Other, Unknown };
NameKind KindOf(const std::string& name);

// DeleteFileA: true on success.
bool DeleteFile(const std::string& name);

// MoveFileA: rename, failing when the new name exists. True on success.
bool MoveFile(const std::string& from, const std::string& to);

// Where ReplaceFile failed: no new file could be made beside the target
// (Create), or it could not be written, flushed or renamed over it (Write).
enum class ReplaceStage { Create, Write };

// Writes the bytes to a new file in target's folder, flushes it to disk and
// renames it over target, so target is at every moment either the old file,
// byte for byte, or the whole new content. A symbolic link at target is
// replaced, never followed. The new file's permission bits are 0666 limited
// by the umask and, when like names an existing file, by like's own bits: a
// copy never grants more than its source. A target that another Tallo
// process holds open without sharing is left alone (EWOULDBLOCK, Create).
// False on failure with *error the native code and *stage; the new file is
// removed then. keep, when given, is the replaced file's owner and mode,
// which the new file takes (a file system without owners ignores it).
struct FileOwnership {
    unsigned mode;
    unsigned uid;
    unsigned gid;
};
bool ReplaceFile(const std::string& target, const char* data, std::size_t size, const std::string& like,
                 int* error, ReplaceStage* stage, const FileOwnership* keep = nullptr);
// The same for a content that comes in pieces: pieces is asked for the next
// one until it gives an empty piece; when it answers false (with *error set)
// the replacement fails at the Write stage and target stays as it was.
using PieceSource = std::function<bool(std::string_view* piece, int* error)>;
bool ReplaceFileWith(const std::string& target, const PieceSource& pieces, const std::string& like,
                     int* error, ReplaceStage* stage, const FileOwnership* keep = nullptr);

// Share modes of CreateFileA. POSIX has no mandatory share modes; the seam
// emulates them with open-file-description advisory locks, so Tallo processes
// respect each other's modes: ShareNone takes a write lock, ShareRead a read
// lock, ShareReadWrite no lock. A conflicting lock fails the open with
// EWOULDBLOCK (neutral code 32, the sharing violation).
enum class Share { None, Read, ReadWrite };
enum class Access { Read, ReadWrite };
// OpenAlways opens an existing file as it is and creates a missing one.
enum class Disposition { OpenExisting, CreateAlways, OpenAlways };

// An open file (CreateFileA / ReadFile / WriteFile / GetFileSize / CloseHandle).
// Move-only; closes on destruction.
class File {
  public:
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Opens or creates; on failure returns a closed File and sets *error to the
    // native code. CreateAlways creates the file or empties an existing one
    // (only after the share lock was granted). Anything but a regular file
    // is refused with kNotRegularFile, without blocking on it.
    static File Open(const std::string& name, Access access, Share share, Disposition disposition,
                     int* error);

    bool IsOpen() const { return fd_ >= 0; }
    // Size in bytes, or -1 with *error set.
    std::int64_t Size(int* error) const;
    // Reads up to count bytes (looping over short reads); returns the number
    // read, or -1 with *error set.
    std::int64_t Read(void* buffer, std::size_t count, int* error);
    // Writes count bytes (looping over short writes); returns the number
    // written, or -1 with *error set.
    std::int64_t Write(const void* buffer, std::size_t count, int* error);
    // Flushes to the storage device; false with *error set on failure.
    bool Sync(int* error);
    // Empties the file and moves the position to its start.
    bool Truncate(int* error);
    // Moves the position to the start (SetFilePointer).
    bool Rewind(int* error);
    // A file of the process's own without a name, removed by the system when
    // it is closed, in the system's folder for temporary files ($TMPDIR or
    // /tmp: O_TMPFILE, or a name removed at once; CreateFileA with
    // FILE_FLAG_DELETE_ON_CLOSE on Windows). Closed with *error set on
    // failure.
    static File Temporary(int* error);
    // Whether the name still leads to this very file (it was not removed or
    // replaced since it was opened).
    bool IsStillNamed(const std::string& name) const;
    // The file's owner and permission bits (GetSecurityInfo; a Windows build
    // fills the mode from the read-only attribute). False with *error set.
    bool Ownership(FileOwnership* out, int* error) const;
    // Takes away the permission bits that the file like does not have.
    void LimitPermissionsTo(const std::string& like);
    // Closes; false with *error set when the close reported a failure.
    bool Close(int* error);
    int Descriptor() const { return fd_; }

  private:
    explicit File(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// A new folder of the process's own under the system's folder for temporary
// files, named after prefix (mkdtemp in $TMPDIR or /tmp; GetTempPathA and
// CreateDirectoryA on Windows). Empty with *error set on failure.
std::string MakeTemporaryFolder(const std::string& prefix, int* error);

// Removes an empty folder (RemoveDirectoryA): true on success.
bool RemoveFolder(const std::string& folder);

// How WithCurrentFolder went: the work done and the current folder set back,
// the folder not entered (the work not done), or the work done and the
// previous current folder not set back.
enum class FolderVisit { Done, NotEntered, NotReturned };

// Calls work with the current directory set to folder, then sets the
// previous one back (GetCurrentDirectoryA and SetCurrentDirectoryA; on
// POSIX the previous one is held open, so a rename of it does no harm).
FolderVisit WithCurrentFolder(const std::string& folder, const std::function<void()>& work);

// Whether the stream is a terminal (_isatty(_fileno(stream))).
bool IsTerminal(std::FILE* stream);

// The width in characters of the terminal the stream writes to; 0 when it is
// no terminal or the width is unknown (GetConsoleScreenBufferInfo).
int TerminalWidth(std::FILE* stream);

// The character set of the process's locale, which its terminal shows, as
// the system names it ("UTF-8", "CP1251", "ANSI_X3.4-1968" for plain ASCII);
// empty when unknown (GetConsoleOutputCP, as "CP<n>").
std::string LocaleCodeset();

// The text converted from the character set from to the one named to (which
// may ask for transliteration: "KOI8-R//TRANSLIT"). A character without a
// form in the target becomes "?", or with strict fails the conversion.
// nullopt when the conversion fails or cannot be made (MultiByteToWideChar
// and WideCharToMultiByte).
std::optional<std::string> ConvertText(const std::string& text, const std::string& to,
                                       const std::string& from, bool strict);

// Gives the stop signals SIGINT and SIGTERM the handler, both held while it
// runs and the calls they interrupt restarted; a null handler gives them
// their default action (the console's control handler on Windows,
// SetConsoleCtrlHandler). Safe to call from the handler itself.
void SetStopSignalAction(void (*handler)(int));
// Lets the stop signals in on the calling thread, where they were held.
void LetStopSignalsIn();

// Hands the signal to a process (on Windows: the console's control event to
// its process group, GenerateConsoleCtrlEvent). Safe in a signal handler.
using ProcessId = std::int64_t;
void SignalProcess(ProcessId process, int signal);

// Ends the process the way the signal does by default, from the signal's own
// handler: the default action comes back and the signal, raised, arrives as
// the handler returns (ExitProcess with 128 + signal). Safe in a signal
// handler.
void EndBySignal(int signal);

// How a child process ended: its exit code, or the signal that ended it.
struct ProcessEnd {
    int exit_code = 0;
    int signal = 0;  // 0 when it exited
};

// Child processes of the calling thread's: while a ChildProcesses lives, the
// stop signals and the ends of children are held on the thread and let in
// only while Wait waits, so none slips in between a look at them and the
// wait (a Windows build waits on the processes' handles and the console's
// control event, WaitForMultipleObjects).
class ChildProcesses {
  public:
    ChildProcesses();
    ~ChildProcesses();
    ChildProcesses(const ChildProcesses&) = delete;
    ChildProcesses& operator=(const ChildProcesses&) = delete;

    // Starts the program args[0] with the arguments: in a process group of
    // its own (the terminal's Ctrl+C reaches this process alone), its
    // standard input and output on the null device, its stop signals held
    // until it takes them, and stopped with SIGTERM when this process ends
    // (CreateProcessA with CREATE_NEW_PROCESS_GROUP, in a job object that
    // ends with this process). 0 with *error set when it cannot start.
    ProcessId Start(const std::vector<std::string>& args, int* error);

    // A child that has ended, with *end how, without waiting; 0 when none has
    // ended yet; -1 with *error set when there is no child to wait for.
    ProcessId Reap(ProcessEnd* end, int* error);

    // Waits until a child ends or a signal arrives.
    void Wait();

  private:
    struct Saved;
    Saved* saved_;
};

// Sets a variable of the process's environment, for the processes it starts
// (SetEnvironmentVariableA).
void SetEnvironmentVariable(const std::string& name, const std::string& value);

// Writes prompt to stderr and reads a line from stdin with the terminal's echo
// off (SetConsoleMode without ENABLE_ECHO_INPUT), the line end left out. Echo
// goes off before the prompt shows, and comes back on every way out, a
// SIGINT, SIGTERM or SIGHUP during the prompt included (which then ends the
// process as that signal does). Without a terminal it reads the line as is.
std::string ReadLineWithoutEcho(const char* prompt);

// Calls start with the signals that ask the process to stop or tell it about
// its children (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD) held on the
// calling thread, and lets them in again after it. A thread that start starts
// keeps them held for good, so they reach the thread that runs the work,
// which can stop it. On Windows, whose console events come on a thread of
// their own, it only calls start.
void WithStopSignalsHeld(const std::function<void()>& start);

// A dynamically loaded library (LoadLibraryA / GetProcAddress / FreeLibrary).
// Move-only; released on destruction.
class Library {
  public:
    Library() = default;
    Library(Library&& other) noexcept;
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();

    // Loads by name. A name without a path delimiter is searched the way
    // LoadLibraryA searches it: the executable's own folder first, then the
    // current directory (never the system's library path). A failed load
    // gives a library that is not loaded. *error, when given, receives the
    // loader's text.
    static Library Load(const std::string& name, std::string* error = nullptr);
    // The same with the folder searched first given (the executable's folder
    // above).
    static Library Load(const std::string& name, const std::string& first_folder, std::string* error);
    // The path a bare name resolves to: first_folder + name when that file
    // exists, else "./" + name; a name with a delimiter stays as it is.
    static std::string Resolve(const std::string& name, const std::string& first_folder);

    bool IsLoaded() const { return handle_ != nullptr; }
    // The exported entry of that name, or null (also when not loaded).
    void* Symbol(const char* name) const;
    void Release();

  private:
    void* handle_ = nullptr;
};

// Blocks of memory of their own, for large buffers that grow: outside the
// heap, so a block that grows leaves no old copy behind (VirtualAlloc,
// VirtualFree on Windows, where growing maps a new block and copies).
// MapMemory answers null when the memory cannot be had.
void* MapMemory(std::size_t size);
// The block grown to size, moved when it must be; null when it cannot grow
// (the block stays as it was).
void* GrowMappedMemory(void* block, std::size_t old_size, std::size_t size);
void UnmapMemory(void* block, std::size_t size);
// Makes [from, from + count) resident for writing in one call instead of a
// page fault for each page (PrefetchVirtualMemory on Windows); does nothing
// where the system cannot.
void MakeResident(void* from, std::size_t count);

}  // namespace tallo::platform
