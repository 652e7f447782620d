#include "script/unfinished_protocol.h"

#include <cerrno>
#include <new>

#include "base/text_rules.h"
#include "packing/streams.h"
#include "text/quoting.h"
#include "text/win1251.h"

namespace tallo::script {

using cp1251::operator""_cp;

RunRefused::RunRefused(const std::string& unfinished_name)
    : Failure("В этой папке уже выполняется другой скрипт: его протокол пишется в файл "_cp +
              Q(platform::FileNameText(platform::FullPath(unfinished_name))) + ". Скрипт не выполнен"_cp) {}

std::string InterruptedRunNotice(const std::string& kept_name) {
    return "Предыдущее выполнение скрипта в этой папке было прервано."_cp + kCrLf +
           "Его незаконченный протокол сохранён в файле "_cp + Q(platform::FileNameText(kept_name)) + "."_cp;
}

namespace {

std::string Tagged(const char* name, const std::string& tag) {
    if (tag.empty())
        return name;
    std::string tagged = name;
    tagged.insert(tagged.find('.') + 1, tag + ".");
    return tagged;
}

}  // namespace

UnfinishedProtocol::UnfinishedProtocol(const std::string& script_name, const std::string& tag)
    : name_(FolderPart(script_name) + Tagged(kUnfinishedProtocolName, tag)) {
    // A link at the name is replaced, never followed.
    if (platform::IsSymbolicLink(name_))
        platform::DeleteFile(name_);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const bool left_over = platform::FileExists(name_);
        int error = 0;
        platform::File file = platform::File::Open(name_, platform::Access::ReadWrite, platform::Share::None,
                                                   platform::Disposition::OpenAlways, &error);
        if (!file.IsOpen()) {
            if (error == EWOULDBLOCK)
                throw RunRefused(name_);
            return;  // no protocol can grow here; the save at the end asks
        }
        // The run that held the file may have removed it between our open and
        // our lock: then the lock is on a file no one else will look at.
        if (!file.IsStillNamed(name_))
            continue;
        file.LimitPermissionsTo(script_name);
        if (left_over) {
            std::int64_t size = file.Size(&error);
            std::string content(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
            if (size > 0) {
                std::int64_t got = file.Read(content.data(), content.size(), &error);
                content.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
            }
            interrupted_ = FolderPart(script_name) + Tagged(kInterruptedProtocolName, tag);
            SaveWholeFile(interrupted_, content.data(), content.size(), script_name);
            if (!file.Truncate(&error))
                throw WriteFailure::For(name_, error);
        }
        file_ = std::move(file);
        StartFlushing();
        return;
    }
    throw RunRefused(name_);
}

UnfinishedProtocol::~UnfinishedProtocol() {
    StopFlushing();
}

// The flusher takes none of the signals that stop a run: they reach the
// thread that runs the script.
void UnfinishedProtocol::StartFlushing() {
    platform::WithStopSignalsHeld([this] {
        flusher_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!stopping_) {
                wake_.wait_for(lock, kFlushInterval);
                WritePending(lock);
            }
        });
    });
}

void UnfinishedProtocol::StopFlushing() noexcept {
    if (!flusher_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    flusher_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    WritePending(lock);
}

// The lines are taken and written with the lock released, so the run adding
// lines never waits for the disk; only one thread writes at a time (the
// flusher, then the one that stopped it).
void UnfinishedProtocol::WritePending(std::unique_lock<std::mutex>& lock) noexcept {
    if (pending_.empty() || broken_)
        return;
    writing_.swap(pending_);
    taken_.notify_all();
    lock.unlock();
    int error = 0;
    const bool written =
        file_.Write(writing_.data(), writing_.size(), &error) == static_cast<std::int64_t>(writing_.size());
    writing_.clear();
    lock.lock();
    if (!written) {
        broken_ = true;  // the rest would leave a gap; the lock stays
        taken_.notify_all();
    }
}

void UnfinishedProtocol::Append(const std::string& entry) noexcept {
    if (!file_.IsOpen())
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (broken_)
        return;
    try {
        if (pending_.size() >= kHeldBytes)
            taken_.wait(lock, [this] { return pending_.size() < kHeldBytes || broken_ || stopping_; });
        pending_.append(entry).append(kCrLf);
    } catch (const std::bad_alloc&) {
        broken_ = true;  // no memory for one line; the saved protocol has it
    }
    if (pending_.size() >= kWakeBytes)
        wake_.notify_one();
}

void UnfinishedProtocol::Finish() {
    StopFlushing();
    if (!file_.IsOpen())
        return;
    // Removed while still locked, so no second run can take the old file.
    platform::DeleteFile(name_);
    int error = 0;
    file_.Close(&error);
}

}  // namespace tallo::script
