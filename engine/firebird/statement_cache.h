// Prepared statements kept by shape (see engine/literal_shape.h): a data
// statement whose text differs from an earlier one only in its literals runs
// through the statement prepared for the first, with its literals as
// parameters. Each parameter is described with the literal's own type (exact
// number with its scale, string in the connection's or the introducer's
// character set, date, time, timestamp), so the database converts it to the
// column as it converts the literal.
//
// A statement runs as written instead (Execute answers false, nothing was
// executed) when it has no shape, when its shape does not prepare as a DML
// statement or procedure call without output, when a literal would meet a
// BLOB or ARRAY, and when a literal in a WHERE comparison is not exactly of
// the column's kind and within its range (a comparison with a literal is made
// in the wider type; a parameter takes the column's type first).
//
// The statements hold the metadata they use: Clear() before anything that may
// change metadata and before the attachment ends.
#pragma once

#include <firebird/Interface.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/firebird/fb_api.h"
#include "engine/firebird/statement_block.h"
#include "engine/firebird/statement_kind.h"
#include "engine/literal_shape.h"

namespace tallo::engine::fb {

// Firebird's number and largest character size of a character set; false for
// a name the engine does not know.
bool CharsetByName(std::string_view name, unsigned& id, unsigned& max_bytes);
// The name and largest character size of a character set by its number.
struct CharsetName {
    std::string_view name;
    unsigned max_bytes = 0;
};
std::optional<CharsetName> CharsetById(unsigned id);

// Whether the statements may stay prepared across a statement of this kind:
// not across data definition or anything else that may change metadata
// (EXECUTE BLOCK, a statement the session does not know).
bool KeepsStatements(StatementKind kind, std::string_view sql);

class StatementCache {
  public:
    static constexpr std::size_t kCapacity = 16;
    // Shapes remembered as seen once: at most this many, of this many bytes.
    static constexpr std::size_t kSeenCapacity = 1024;
    static constexpr unsigned kMissesBeforeSkipping = 64;
    static constexpr unsigned kSkipStride = 8;
    static constexpr std::size_t kSeenBytes = 1 << 20;

    // enabled: reuse at all (the environment variable
    // TALLO_ENGINE_STATEMENT_REUSE=0 turns it off, for tests comparing both
    // ways).
    explicit StatementCache(bool enabled = ReuseEnabled());
    ~StatementCache();
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    static bool ReuseEnabled();

    // Runs sql through a cached statement in tra; false when sql must run as
    // written. A shape new to the cache is compiled in compile (the
    // transaction whose view of the metadata statements are compiled
    // against). Failures of the execution itself come as FbException.
    // rows_affected, when given, receives the statement's count.
    bool Execute(ThrowStatusWrapper* status, Firebird::IAttachment* att, Firebird::ITransaction* compile,
                 Firebird::ITransaction* tra, int dialect, std::string_view sql, std::int64_t* rows_affected);

    // Runs the first statements of sqls that are of one shape as one block
    // (engine/firebird/statement_block.h) in tra; answers how many ran: 0
    // when they cannot go together (no INSERT, UPDATE or DELETE of one shape
    // on a table without triggers, identity columns or defaults other than
    // constants; a string compared in a WHERE) and when the block failed,
    // which leaves nothing of it. The shape is compiled in compile.
    std::size_t ExecuteBlock(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                             Firebird::ITransaction* compile, Firebird::ITransaction* tra, int dialect,
                             const std::vector<std::string_view>& sqls);

    static bool BlocksEnabled();

    // Frees every statement.
    void Clear();

    std::size_t size() const { return entries_.size(); }

  private:
    struct Param {
        unsigned type = 0;  // without the nullable bit
        int scale = 0;
        unsigned length = 0;
        unsigned charset = 0;
    };
    // What a literal puts into the message: its type, scale, length and
    // character set (all zero for NULL, which keeps the statement's type).
    struct Slot {
        unsigned type = 0;
        int scale = 0;
        unsigned length = 0;
        unsigned charset = 0;
        bool operator==(const Slot&) const = default;
    };
    // A statement's input message, laid out for its slots, and the buffer
    // the values are filled into.
    struct Message {
        std::vector<Slot> slots;
        Ref<Firebird::IMessageMetadata> metadata;
        std::vector<unsigned> offsets, null_offsets;
        std::vector<unsigned char> buffer;
    };
    struct Entry {
        std::string shape;
        Ref<Firebird::IStatement> statement;  // empty: the shape runs as written
        std::vector<Param> params;
        Message message;
    };
    using Entries = std::list<Entry>;
    // One block statement for a number of rows of a shape.
    struct Block {
        std::string shape;
        unsigned rows = 0;
        Ref<Firebird::IStatement> statement;
        Message message;  // rows x the shape's parameters
    };

    Entry* Find(ThrowStatusWrapper* status, Firebird::IAttachment* att, Firebird::ITransaction* tra,
                int dialect);
    void Prepare(ThrowStatusWrapper* status, Firebird::IAttachment* att, Firebird::ITransaction* tra,
                 int dialect, Entry& entry);
    bool Describe(const Param& param, const Literal& lit, Slot& slot) const;
    // Lays message out for slots over the statement's parameters (each row of
    // a block repeats params); a NULL's slot keeps its parameter's type.
    static void BuildMessage(ThrowStatusWrapper* status, Firebird::IStatement* statement,
                             const std::vector<Param>& params, const std::vector<Slot>& slots,
                             Message& message);
    void Fill(Entry& entry);
    void FillRow(const std::vector<Literal>& literals, const Slot* slots, const unsigned* offsets,
                 const unsigned* null_offsets, unsigned char* buffer);
    // Whether statements on the shape's table may go in blocks (read once
    // per table until Clear()).
    bool TableTakesBlocks(ThrowStatusWrapper* status, Firebird::IAttachment* att, Firebird::ITransaction* tra,
                          int dialect, std::string_view shape);
    // The block statement for rows of the entry's shape; null when a
    // parameter's type cannot be declared.
    Block* BlockFor(ThrowStatusWrapper* status, Firebird::IAttachment* att, Firebird::ITransaction* tra,
                    int dialect, const Entry& entry, unsigned rows);
    void ReadConnectionCharset(ThrowStatusWrapper* status, Firebird::IAttachment* att);
    // A statement read without finding a shape the cache holds.
    void Missed();

    bool enabled_;
    Firebird::IUtil* util_;
    Entries entries_;  // most recently used first
    std::unordered_map<std::string_view, Entries::iterator> index_;
    std::unordered_set<std::string> seen_;
    std::size_t seen_bytes_ = 0;
    // Statements in a row that had no shape or one new to the cache; past
    // kMissesBeforeSkipping only every kSkipStride-th statement is read for
    // its shape, so a script that never repeats itself is hardly slowed,
    // while a run of one shape is found again within a few statements.
    unsigned misses_in_a_row_ = 0;
    unsigned skip_ = 0;
    LiteralShape shape_;
    LiteralShape row_shape_;
    std::vector<std::vector<Literal>> rows_;
    std::unordered_map<std::string, bool> tables_;  // table name -> takes blocks
    std::list<Block> blocks_;                       // most recently used first
    bool blocks_enabled_ = BlocksEnabled();
    std::vector<Slot> slots_;
    bool charset_known_ = false;
    unsigned connection_charset_ = 0;
    unsigned connection_max_bytes_ = 0;  // 0: not known
};

}  // namespace tallo::engine::fb
