// A thin RAII layer over Firebird's OO API: each wrapper owns one interface
// and gives it back on every path (closed, freed, rolled back or detached
// when still open, released otherwise). Calls report failures through a
// ThrowStatusWrapper, that is as Firebird::FbException; FirebirdSession turns
// those into SessionError at its boundary.
#pragma once

#include <firebird/Interface.h>

#include <string>
#include <utility>

namespace tallo::engine::fb {

using Firebird::ThrowStatusWrapper;

// The process's master interface. Prepares the lock folder first (see
// lock_folder.h), so it is the only way the engine reaches Firebird.
Firebird::IMaster* Master();

// One status object for a sequence of calls, checked after each call.
class Status {
  public:
    Status() : raw_(Master()->getStatus()), wrapper_(raw_) {}
    ~Status() { raw_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    ThrowStatusWrapper* get() {
        wrapper_.init();
        return &wrapper_;
    }

  private:
    Firebird::IStatus* raw_;
    ThrowStatusWrapper wrapper_;
};

// How each kind of interface is ended while it is still open: a failure
// there (a lost connection, say) only leaves release() to do.
struct EndPolicy {
    static bool End(Firebird::IAttachment* a, Firebird::CheckStatusWrapper* s) { return a->detach(s), Ok(s); }
    static bool End(Firebird::ITransaction* t, Firebird::CheckStatusWrapper* s) {
        return t->rollback(s), Ok(s);
    }
    static bool End(Firebird::IStatement* st, Firebird::CheckStatusWrapper* s) { return st->free(s), Ok(s); }
    static bool End(Firebird::IResultSet* r, Firebird::CheckStatusWrapper* s) { return r->close(s), Ok(s); }
    static bool End(Firebird::IBlob* b, Firebird::CheckStatusWrapper* s) { return b->close(s), Ok(s); }
    static bool End(Firebird::IMessageMetadata*, Firebird::CheckStatusWrapper*) { return false; }
    static bool End(Firebird::IProvider*, Firebird::CheckStatusWrapper*) { return false; }
    static bool Ok(Firebird::CheckStatusWrapper* s) {
        return (s->getState() & Firebird::IStatus::STATE_ERRORS) == 0;
    }
};

// Owns one interface pointer. Ending it (commit, detach, close, free) through
// Firebird releases it on success: call Ended() right after such a call.
template <class T>
class Ref {
  public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    ~Ref() { Reset(); }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // The interface was ended by a successful Firebird call.
    void Ended() { p_ = nullptr; }
    // Gives the interface up without ending it (after a lost connection the
    // only sound thing left is release()).
    void Abandon() {
        if (p_)
            std::exchange(p_, nullptr)->release();
    }
    // Ends the interface when still open; never throws.
    void Reset() {
        if (!p_)
            return;
        T* p = std::exchange(p_, nullptr);
        Firebird::IStatus* raw = Master()->getStatus();
        Firebird::CheckStatusWrapper status(raw);
        if (!EndPolicy::End(p, &status))
            p->release();
        raw->dispose();
    }

  private:
    T* p_ = nullptr;
};

// Frees a metadata builder on every path.
class MetadataBuilder {
  public:
    explicit MetadataBuilder(Firebird::IMetadataBuilder* b) : b_(b) {}
    ~MetadataBuilder() { b_->release(); }
    MetadataBuilder(const MetadataBuilder&) = delete;
    MetadataBuilder& operator=(const MetadataBuilder&) = delete;
    Firebird::IMetadataBuilder* operator->() const { return b_; }

  private:
    Firebird::IMetadataBuilder* b_;
};

// A parameter block under construction (DPB, TPB, ...).
class Xpb {
  public:
    Xpb(Status& status, unsigned kind)
        : xpb_(Master()->getUtilInterface()->getXpbBuilder(status.get(), kind, nullptr, 0)) {}
    ~Xpb() { xpb_->dispose(); }
    Xpb(const Xpb&) = delete;
    Xpb& operator=(const Xpb&) = delete;
    Firebird::IXpbBuilder* operator->() const { return xpb_; }

  private:
    Firebird::IXpbBuilder* xpb_;
};

}  // namespace tallo::engine::fb
