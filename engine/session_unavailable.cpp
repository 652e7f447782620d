// The session used when the engine is built without the Firebird client:
// every database call fails with one clear message.
#include "engine/session.h"

namespace tallo::engine {

namespace {

constexpr const char* kUnavailable = "Firebird client not available";

class UnavailableSession : public Session {
  public:
    void Connect(const ConnectParams&) override { throw SessionError(kUnavailable); }
    void CreateDatabase(const std::string&, const ConnectParams&) override {
        throw SessionError(kUnavailable);
    }
    void DropDatabase() override { throw SessionError(kUnavailable); }
    void Disconnect(bool) override {}
    bool Connected() const override { return false; }
    ExecResult Execute(const std::string&, RowSink*) override { throw SessionError(kUnavailable); }
    void SetTransaction(const std::string&) override { throw SessionError(kUnavailable); }
    void Commit(bool) override { throw SessionError(kUnavailable); }
    void Rollback(bool) override { throw SessionError(kUnavailable); }
    bool InTransaction() const override { return false; }
    void SetOptions(const SessionOptions&) override {}
    std::optional<Counters> ReadCounters() override { return std::nullopt; }
};

}  // namespace

std::unique_ptr<Session> MakeFirebirdSession() {
    return std::make_unique<UnavailableSession>();
}

}  // namespace tallo::engine
