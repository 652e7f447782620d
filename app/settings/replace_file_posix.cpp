// POSIX implementation of the crash-safe file replacement.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "app/base/platform.h"
#include "app/base/text_rules.h"
#include "app/settings/replace_file.h"

namespace tallo::settings_io {

namespace {

// A temporary file that is removed unless it was renamed into place.
class TempFile {
  public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!name_.empty())
            ::unlink(name_.c_str());
    }

    // Creates a new file of a name no one else holds, beside target.
    bool Create(const std::string& target, mode_t mode) {
        static std::atomic<unsigned> counter{0};
        std::string folder = platform::FolderOf(target);
        std::string base = target.substr(folder.size());
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = Joined({folder, ".", base, ".", std::to_string(::getpid()), "-",
                                       std::to_string(counter.fetch_add(1)), ".tmp"});
            int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd >= 0) {
                fd_ = fd;
                name_ = name;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    bool WriteAll(std::string_view bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Gives the file the old one's owner (when that is not already so) and
    // mode; false when the owner cannot be kept.
    bool Keep(const Ownership& keep) {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return false;
        if ((st.st_uid != keep.uid || st.st_gid != keep.gid) && ::fchown(fd_, keep.uid, keep.gid) != 0) {
            return false;
        }
        return ::fchmod(fd_, keep.mode & 07777) == 0;
    }

    bool SyncAndClose() {
        if (::fsync(fd_) != 0)
            return false;
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

    bool RenameTo(const std::string& target) {
        if (::rename(name_.c_str(), target.c_str()) != 0)
            return false;
        name_.clear();
        return true;
    }

  private:
    int fd_ = -1;
    std::string name_;
};

void SyncFolder(const std::string& target) {
    const std::string folder = platform::FolderOf(target);
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The rename has happened; a folder that cannot be flushed leaves it to
    // the system's own write-back.
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

bool ReplaceFileContent(const std::string& target, std::string_view bytes, const Ownership* keep) {
    TempFile temp;
    if (!temp.Create(target, keep ? 0600 : 0666))
        return false;
    if (keep && !temp.Keep(*keep))
        return false;
    if (!temp.WriteAll(bytes) || !temp.SyncAndClose())
        return false;
    if (!temp.RenameTo(target))
        return false;
    SyncFolder(target);
    return true;
}

}  // namespace tallo::settings_io
