// POSIX implementation of the platform seam's part for the process's
// surroundings: temporary and current folders, the terminal, the environment.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "base/platform.h"

namespace tallo::platform {

namespace {

// The terminal's mode while a line is read without echo; restored on every
// way out, an interrupt included.
termios g_saved_mode{};
volatile std::sig_atomic_t g_mode_saved = 0;
constexpr int kPromptSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnChildEnded(int) {}

extern "C" void RestoreTerminalAndDie(int signal) {
    if (g_mode_saved)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_mode);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

std::string MakeTemporaryFolder(const std::string& prefix, int* error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        *error = errno;
        return {};
    }
    return folder;
}

File File::Temporary(int* error) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp ? tmp : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a name, removed at once.
        std::string name = folder + "/tallo-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.c_str());
    }
    if (fd < 0)
        *error = errno;
    return File(fd);
}

bool File::Rewind(int* error) {
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        *error = errno;
        return false;
    }
    return true;
}

bool RemoveFolder(const std::string& folder) {
    return ::rmdir(folder.c_str()) == 0;
}

FolderVisit WithCurrentFolder(const std::string& folder, const std::function<void()>& work) {
    const int here = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0)
        return FolderVisit::NotEntered;
    FolderVisit visit = FolderVisit::NotEntered;
    if (::chdir(folder.c_str()) == 0) {
        visit = FolderVisit::Done;
        try {
            work();
        } catch (...) {
            (void)::fchdir(here);
            ::close(here);
            throw;
        }
        if (::fchdir(here) != 0)
            visit = FolderVisit::NotReturned;
    }
    ::close(here);
    return visit;
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

int TerminalWidth(std::FILE* stream) {
    winsize ws{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &ws) == 0)
        return ws.ws_col;
    return 0;
}

std::string LocaleCodeset() {
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset == nullptr ? std::string() : std::string(codeset);
}

std::optional<std::string> ConvertText(const std::string& text, const std::string& to,
                                       const std::string& from, bool strict) {
    iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char* op = out.data();
    size_t out_left = out.size();
    bool lost = false;
    while (in_left > 0 && out_left > 0) {
        if (::iconv(cd, &in, &in_left, &op, &out_left) != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG || strict) {
            lost = true;
            break;
        }
        *op++ = '?';
        --out_left;
        ++in;
        --in_left;
    }
    ::iconv_close(cd);
    if (lost && strict)
        return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

void SetStopSignalAction(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler != nullptr ? handler : SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void LetStopSignalsIn() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

void SignalProcess(ProcessId process, int signal) {
    if (process > 0)
        ::kill(static_cast<pid_t>(process), signal);
}

void EndBySignal(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);  // held until the handler returns, then the default action
}

struct ChildProcesses::Saved {
    struct sigaction on_child {};
    sigset_t mask{};     // the thread's mask before
    sigset_t waiting{};  // the same with the stop signals and SIGCHLD let in
};

ChildProcesses::ChildProcesses() : saved_(new Saved) {
    struct sigaction on_child {};
    on_child.sa_handler = OnChildEnded;
    sigemptyset(&on_child.sa_mask);
    on_child.sa_flags = SA_NOCLDSTOP;
    ::sigaction(SIGCHLD, &on_child, &saved_->on_child);
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGCHLD})
        sigaddset(&held, signal);
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_->mask);
    saved_->waiting = saved_->mask;
    for (int signal : {SIGINT, SIGTERM, SIGCHLD})
        sigdelset(&saved_->waiting, signal);
}

ChildProcesses::~ChildProcesses() {
    ::pthread_sigmask(SIG_SETMASK, &saved_->mask, nullptr);
    ::sigaction(SIGCHLD, &saved_->on_child, nullptr);
    delete saved_;
}

ProcessId ChildProcesses::Start(const std::vector<std::string>& args, int* error) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The stop signals are held here, so the child starts with them held
    // until it has its handler: one that comes while it starts is neither
    // lost nor fatal to it.
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = errno;
        return 0;
    }
    if (pid == 0) {
        // A child whose parent is gone stops as if told.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        ::sigprocmask(SIG_SETMASK, &stop, nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    return pid;
}

ProcessId ChildProcesses::Reap(ProcessEnd* end, int* error) {
    for (;;) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid < 0 && errno == EINTR)
            continue;
        if (pid < 0) {
            *error = errno;
            return -1;
        }
        if (pid > 0) {
            *end = WIFSIGNALED(status) ? ProcessEnd{0, WTERMSIG(status)} : ProcessEnd{WEXITSTATUS(status), 0};
        }
        return pid;
    }
}

void ChildProcesses::Wait() {
    ::sigsuspend(&saved_->waiting);
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

std::string ReadLineWithoutEcho(const char* prompt) {
    // Echo goes off before the prompt shows, so nothing typed after it is
    // ever echoed or thrown away. The signals' own actions come back after
    // the prompt.
    struct sigaction before[std::size(kPromptSignals)];
    if (::tcgetattr(STDIN_FILENO, &g_saved_mode) == 0) {
        g_mode_saved = 1;
        struct sigaction restore {};
        restore.sa_handler = RestoreTerminalAndDie;
        sigemptyset(&restore.sa_mask);
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            ::sigaction(kPromptSignals[i], &restore, &before[i]);
        termios quiet = g_saved_mode;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (g_mode_saved) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_mode);
        g_mode_saved = 0;
        for (std::size_t i = 0; i < std::size(kPromptSignals); ++i)
            ::sigaction(kPromptSignals[i], &before[i], nullptr);
    }
    std::fputs("\n", stderr);
    return line;
}

}  // namespace tallo::platform
