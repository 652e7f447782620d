// POSIX implementation of the platform seam.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/platform.h"
#include "base/scope_exit.h"
#include "text/win1251.h"

namespace tallo::platform {

namespace {

bool FolderExists(const std::string& path) {
    std::string folder = FolderOf(FullPath(path));
    if (folder.empty())
        return true;
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int NeutralErrorCode(int native_code, const std::string& path) {
    switch (native_code) {
        case kNotRegularFile:
            return 5;
        case ENOENT:
            return FolderExists(path) ? 2 : 3;
        case ENOTDIR:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return 5;
        case EWOULDBLOCK:
            return 32;
        case ENOSPC:
        case EDQUOT:
            return 101;
        default:
            return 1000 + native_code;
    }
}

std::string SystemErrorText(int native_code) {
    if (native_code == kNotRegularFile)
        return "Not a regular file";
    char buffer[512];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(native_code, buffer, sizeof buffer);
    std::string s = text ? text : "";
    while (!s.empty() && (static_cast<unsigned char>(s.back()) <= 32 || s.back() == '.'))
        s.pop_back();
    return s;
}

std::string FileNameText(const std::string& name) {
    return cp1251::IsValidUtf8(name) ? cp1251::FromUtf8(name) : name;
}

std::string FullPath(const std::string& name) {
    std::string path;
    if (!name.empty() && name[0] == '/') {
        path = name;
    } else {
        std::vector<char> cwd(PATH_MAX + 1);
        if (::getcwd(cwd.data(), cwd.size()) == nullptr)
            return name;
        path = cwd.data();
        if (!name.empty())
            path += "/" + name;
    }
    // Fold "." and ".." segments and repeated delimiters, keeping a trailing one.
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        std::string seg = path.substr(i, j - i);
        if (seg == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        i = j + 1;
    }
    std::string out;
    for (const auto& p : parts) {
        out += '/';
        out += p;
    }
    if (out.empty())
        out.push_back('/');
    else if (path.size() > 1 && path.back() == '/')
        out.push_back('/');
    return out;
}

void EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
}

std::string ExecutablePath() {
    std::vector<char> buf(PATH_MAX + 1);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return {};
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

std::string FolderOf(const std::string& path) {
    std::size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

bool FileExists(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSymbolicLink(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkTarget(const std::string& name) {
    char* real = ::realpath(name.c_str(), nullptr);
    if (real == nullptr)
        return {};
    std::string target = real;
    std::free(real);
    return target;
}

NameKind KindOf(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) ? NameKind::RegularFile : NameKind::Other;
    return errno == ENOENT ? NameKind::Nothing : NameKind::Unknown;
}

bool DeleteFile(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(name.c_str()) == 0;
}

bool MoveFile(const std::string& from, const std::string& to) {
    // renameat2(RENAME_NOREPLACE) is not everywhere; link + unlink gives the
    // same "fails when the new name exists" for files on one file system.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    if (::link(from.c_str(), to.c_str()) == 0) {
        return ::unlink(from.c_str()) == 0;
    }
    if (errno == EXDEV || errno == EPERM || errno == EMLINK || errno == ENOTSUP) {
        if (::lstat(to.c_str(), &st) == 0)
            return false;
        return ::rename(from.c_str(), to.c_str()) == 0;
    }
    return false;
}

namespace {

// The new file of ReplaceFile, removed unless it was renamed into place.
class NewFileBeside {
  public:
    ~NewFileBeside() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!name_.empty())
            ::unlink(name_.c_str());
    }

    bool Create(const std::string& target, mode_t mode) {
        static unsigned counter = 0;
        const std::string folder = FolderOf(target);
        const std::string base = target.substr(folder.size());
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = folder + "." + base + "." + std::to_string(::getpid()) + "-" +
                               std::to_string(counter++) + ".tmp";
            int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            if (fd >= 0) {
                fd_ = fd;
                name_ = std::move(name);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    int fd() const { return fd_; }

    bool CloseAndRenameTo(const std::string& target) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 || ::rename(name_.c_str(), target.c_str()) != 0)
            return false;
        name_.clear();
        return true;
    }

  private:
    int fd_ = -1;
    std::string name_;
};

// Whether another process holds target open without sharing (a write lock
// of File::Open with Share::None).
bool HeldWithoutSharing(const std::string& target) {
    int fd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace

bool ReplaceFile(const std::string& target, const char* data, std::size_t size, const std::string& like,
                 int* error, ReplaceStage* stage, const FileOwnership* keep) {
    bool given = false;
    const PieceSource whole = [&](std::string_view* piece, int*) {
        *piece = given ? std::string_view() : std::string_view(data, size);
        given = true;
        return true;
    };
    return ReplaceFileWith(target, whole, like, error, stage, keep);
}

bool ReplaceFileWith(const std::string& target, const PieceSource& pieces, const std::string& like,
                     int* error, ReplaceStage* stage, const FileOwnership* keep) {
    *stage = ReplaceStage::Create;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = EISDIR;
        return false;
    }
    if (HeldWithoutSharing(target)) {
        *error = EWOULDBLOCK;
        return false;
    }
    mode_t mode = 0666;
    if (!like.empty() && ::stat(like.c_str(), &st) == 0)
        mode &= st.st_mode;
    NewFileBeside file;
    if (!file.Create(target, keep ? 0600 : mode)) {
        *error = errno;
        return false;
    }
    if (keep) {
        // The old file's owner (when that is not already so) and mode.
        struct stat made {};
        if (::fstat(file.fd(), &made) != 0 ||
            ((made.st_uid != keep->uid || made.st_gid != keep->gid) &&
             ::fchown(file.fd(), keep->uid, keep->gid) != 0) ||
            ::fchmod(file.fd(), static_cast<mode_t>(keep->mode & 07777)) != 0) {
            *error = errno;
            return false;
        }
    }
    *stage = ReplaceStage::Write;
    for (;;) {
        std::string_view piece;
        if (!pieces(&piece, error))
            return false;
        if (piece.empty())
            break;
        while (!piece.empty()) {
            ssize_t n = ::write(file.fd(), piece.data(), piece.size());
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                *error = errno;
                return false;
            }
            piece.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    if (::fsync(file.fd()) != 0 || !file.CloseAndRenameTo(target)) {
        *error = errno;
        return false;
    }
    // The rename is done; a folder that cannot be flushed leaves it to the
    // system's own write-back.
    const std::string folder = FolderOf(target).empty() ? "." : FolderOf(target);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

File::File(File&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0)
        ::close(fd_);
}

File File::Open(const std::string& name, Access access, Share share, Disposition disposition, int* error) {
    int flags = O_CLOEXEC | (access == Access::Read ? O_RDONLY : O_RDWR);
    if (disposition != Disposition::OpenExisting)
        flags |= O_CREAT;
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *error = EISDIR;
        return File();
    }
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting
    // forever; it has no effect on a regular file.
    int fd = ::open(name.c_str(), flags | O_NONBLOCK, 0666);
    if (fd < 0) {
        *error = errno;
        return File();
    }
    File file(fd);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = kNotRegularFile;
        return File();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (share != Share::ReadWrite) {
        struct flock lock {};
        lock.l_type = share == Share::None ? F_WRLCK : F_RDLCK;
        if (share == Share::None && access == Access::Read)
            lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
            *error = (errno == EACCES || errno == EAGAIN) ? EWOULDBLOCK : errno;
            return File();
        }
    } else {
        // Even an open that shares everything must not slip past a holder that
        // shares nothing: test for a conflicting write lock.
        struct flock lock {};
        lock.l_type = access == Access::Read ? F_RDLCK : F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
            *error = EWOULDBLOCK;
            return File();
        }
    }
    if (disposition == Disposition::CreateAlways && ::ftruncate(fd, 0) != 0) {
        *error = errno;
        return File();
    }
    return file;
}

std::int64_t File::Size(int* error) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        *error = errno;
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::int64_t File::Read(void* buffer, std::size_t count, int* error) {
    std::size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(fd_, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t File::Write(const void* buffer, std::size_t count, int* error) {
    std::size_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::write(fd_, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool File::Sync(int* error) {
    if (::fsync(fd_) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

bool File::Truncate(int* error) {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

bool File::IsStillNamed(const std::string& name) const {
    struct stat mine {};
    struct stat named {};
    return ::fstat(fd_, &mine) == 0 && ::lstat(name.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
}

bool File::Ownership(FileOwnership* out, int* error) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        *error = errno;
        return false;
    }
    *out = {st.st_mode, st.st_uid, st.st_gid};
    return true;
}

void File::LimitPermissionsTo(const std::string& like) {
    struct stat mine {};
    struct stat model {};
    if (::fstat(fd_, &mine) == 0 && ::stat(like.c_str(), &model) == 0 &&
        (mine.st_mode & ~model.st_mode & 0777) != 0)
        (void)::fchmod(fd_, mine.st_mode & model.st_mode & 0777);
}

bool File::Close(int* error) {
    if (fd_ < 0)
        return true;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        *error = errno;
        return false;
    }
    return true;
}

Library::Library(Library&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

Library::~Library() {
    Release();
}

std::string Library::Resolve(const std::string& name, const std::string& first_folder) {
    if (name.find('/') != std::string::npos)
        return name;
    // dlopen would search the system's library path for a bare name; the
    // tool searches as LoadLibraryA does, so a library planted in the current
    // directory never wins over the one installed beside the program.
    std::string folder = first_folder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    if (!folder.empty() && FileExists(folder + name))
        return folder + name;
    return "./" + name;
}

void WithStopSignalsHeld(const std::function<void()>& start) {
    sigset_t held, before;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &before);
    ScopeExit restore([&before] { ::pthread_sigmask(SIG_SETMASK, &before, nullptr); });
    start();
}

Library Library::Load(const std::string& name, std::string* error) {
    return Load(name, FolderOf(ExecutablePath()), error);
}

Library Library::Load(const std::string& name, const std::string& first_folder, std::string* error) {
    std::string path = Resolve(name, first_folder);
    Library lib;
    lib.handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle_ && error) {
        const char* e = ::dlerror();
        *error = e ? e : "";
    }
    return lib;
}

void* Library::Symbol(const char* name) const {
    if (!handle_)
        return nullptr;
    return ::dlsym(handle_, name);
}

void Library::Release() {
    if (handle_) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

void* MapMemory(std::size_t size) {
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void* GrowMappedMemory(void* block, std::size_t old_size, std::size_t size) {
    void* grown = ::mremap(block, old_size, size, MREMAP_MAYMOVE);
    return grown == MAP_FAILED ? nullptr : grown;
}

void UnmapMemory(void* block, std::size_t size) {
    ::munmap(block, size);
}

// Under a hypervisor a first-touch fault can cost more than the work that
// fills the page. Kernels without MADV_POPULATE_WRITE (before 5.14) leave the
// pages to fault as usual.
void MakeResident(void* from, std::size_t count) {
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(from) & ~(page - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(from) + count;
    if (count != 0)
        (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)from;
    (void)count;
#endif
}

}  // namespace tallo::platform
