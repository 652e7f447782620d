// The session's attachment: connecting, creating, dropping and ending it,
// cancelling what runs on it, and what it tells of itself.
#include "engine/firebird/firebird_session.h"

#include <ibase.h>

#include "engine/firebird/attachment_facts.h"
#include "engine/firebird/create_statement.h"
#include "engine/firebird/lock_folder.h"

namespace tallo::engine::fb {

namespace {

// Shuts Firebird down (attachments, the embedded engine and its threads)
// when the process ends or this library is unloaded. Made right after
// Firebird is first reached, so it runs before Firebird's own libraries are
// finished: without it Firebird's threads still run while the process exits,
// and the database files are closed by the system instead of by Firebird.
struct FirebirdShutdown {
    ~FirebirdShutdown() { fb_shutdown(0, fb_shutrsn_app_stopped); }
};

}  // namespace

Firebird::IMaster* Master() {
    static Firebird::IMaster* master = [] {
        PrepareLockFolder();
        Firebird::IMaster* m = Firebird::fb_get_master_interface();
        static FirebirdShutdown shutdown;
        return m;
    }();
    return master;
}

FirebirdSession::~FirebirdSession() {
    // A session dropped without Disconnect rolls back what it left open.
    cache_.Clear();
    show_.Reset();
    meta_.Reset();
    tra_.Reset();
    std::lock_guard<std::mutex> lock(att_mutex_);
    att_.Reset();
}

// The attachment changes only under att_mutex_, so a cancel from another
// thread never meets one that is being ended.
void FirebirdSession::Cancel() {
    std::lock_guard<std::mutex> lock(att_mutex_);
    if (!att_)
        return;
    fb::Status status;
    try {
        att_->cancelOperation(status.get(), fb_cancel_raise);
    } catch (const FbException&) {
        // Nothing running to cancel, or the attachment is gone.
    }
}

void FirebirdSession::Connect(const ConnectParams& params) {
    Disconnect(false);
    Guarded([&] {
        fb::Xpb dpb(status_, IXpbBuilder::DPB);
        auto* st = status_.get();
        if (!params.user.empty())
            dpb->insertString(st, isc_dpb_user_name, params.user.c_str());
        if (!params.password.empty())
            dpb->insertString(st, isc_dpb_password, params.password.c_str());
        if (!params.role.empty())
            dpb->insertString(st, isc_dpb_sql_role_name, params.role.c_str());
        if (!params.charset.empty())
            dpb->insertString(st, isc_dpb_lc_ctype, params.charset.c_str());
        dpb->insertInt(st, isc_dpb_sql_dialect, params.dialect);
        if (params.cache > 0)
            dpb->insertInt(st, isc_dpb_num_buffers, params.cache);
#ifndef _WIN32
        // The engine hands file names over in UTF-8 here; a server on
        // another system converts them to its own file names.
        dpb->insertTag(st, isc_dpb_utf8_filename);
#endif
        // A local path must open the file in this process: without this
        // Firebird quietly tries the loopback server when the embedded
        // engine fails.
        if (!fb::IsServerDatabase(params.database)) {
            dpb->insertString(st, isc_dpb_config, "Providers=Engine12");
        }
        Ref<IAttachment> att(provider_->attachDatabase(st, params.database.c_str(), dpb->getBufferLength(st),
                                                       dpb->getBuffer(st)));
        SetAttachment(std::move(att));
        StartTransactions();
    });
    dialect_ = params.dialect;
}

void FirebirdSession::CreateDatabase(const std::string& statement, const ConnectParams& params) {
    Disconnect(false);
    std::string sql = fb::CompleteCreateDatabase(statement, params);
    Guarded([&] {
        FB_BOOLEAN is_create = 0;
        SetAttachment(Ref<IAttachment>(
            util_->executeCreateDatabase(status_.get(), static_cast<unsigned>(sql.size()), sql.c_str(),
                                         static_cast<unsigned>(params.dialect), &is_create)));
        if (!is_create)
            throw SessionError("Not a CREATE DATABASE statement");
        StartTransactions();
    });
    dialect_ = params.dialect;
}

void FirebirdSession::DropDatabase() {
    RequireAttachment();
    cache_.Clear();
    Guarded([&] {
        show_.Reset();
        meta_.Reset();
        tra_.Reset();
        std::lock_guard<std::mutex> lock(att_mutex_);
        att_->dropDatabase(status_.get());
        att_.Ended();
    });
}

void FirebirdSession::Disconnect(bool commit) {
    cache_.Clear();
    if (!att_)
        return;
    try {
        Guarded([&] {
            show_.Reset();
            End(meta_, commit);
            if (tra_)
                End(tra_, commit);
            std::lock_guard<std::mutex> lock(att_mutex_);
            att_->detach(status_.get());
            att_.Ended();
        });
    } catch (const SessionError& e) {
        // Whatever failed, the attachment ends here (a transaction that
        // could not commit is rolled back); only a live one's failure is
        // news to the caller.
        show_.Reset();
        meta_.Reset();
        tra_.Reset();
        {
            std::lock_guard<std::mutex> lock(att_mutex_);
            att_.Reset();
        }
        if (!e.connection_lost)
            throw;
    }
}

std::optional<Counters> FirebirdSession::ReadCounters() {
    if (!att_)
        return std::nullopt;
    static const unsigned char kItems[] = {
        isc_info_current_memory, isc_info_max_memory, isc_info_num_buffers, isc_info_reads,
        isc_info_writes,         isc_info_fetches,    isc_info_end};
    unsigned char buffer[128] = {};
    Guarded([&] { att_->getInfo(status_.get(), sizeof kItems, kItems, sizeof buffer, buffer); });
    Counters counters;
    const unsigned char* p = buffer;
    const unsigned char* const end = buffer + sizeof buffer;
    while (p + 3 <= end && *p != isc_info_end) {
        const unsigned char item = *p;
        const auto length = static_cast<unsigned short>(isc_portable_integer(p + 1, 2));
        if (p + 3 + length > end)
            break;
        const std::int64_t value = isc_portable_integer(p + 3, static_cast<short>(length));
        p += 3 + length;
        switch (item) {
            case isc_info_current_memory:
                counters.current_memory = value;
                break;
            case isc_info_max_memory:
                counters.max_memory = value;
                break;
            case isc_info_num_buffers:
                counters.buffers = value;
                break;
            case isc_info_reads:
                counters.reads = value;
                break;
            case isc_info_writes:
                counters.writes = value;
                break;
            case isc_info_fetches:
                counters.fetches = value;
                break;
            default:
                break;
        }
    }
    return counters;
}

AttachmentFacts FirebirdSession::Facts() {
    RequireAttachment();
    AttachmentFacts facts;
    Guarded([&] { facts = fb::ReadAttachmentFacts(status_.get(), util_, att_.get()); });
    return facts;
}

}  // namespace tallo::engine::fb

namespace tallo::engine {

std::unique_ptr<Session> MakeFirebirdSession() {
    return std::make_unique<fb::FirebirdSession>();
}

void ShutdownFirebirdClient() {
    fb_shutdown(0, fb_shutrsn_app_stopped);
}

}  // namespace tallo::engine
