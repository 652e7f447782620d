#include "engine/firebird/statement_cache.h"

#include <ibase.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text/lexer.h"

namespace tallo::engine::fb {

using Firebird::IMessageMetadata;
using Firebird::IStatement;

namespace {

struct CharsetInfo {
    std::string_view name;
    unsigned id;
    unsigned max_bytes;
};

constexpr std::array<CharsetInfo, 16> kCharsets = {{
    {"NONE", 0, 1},
    {"OCTETS", 1, 1},
    {"BINARY", 1, 1},
    {"ASCII", 2, 1},
    {"UNICODE_FSS", 3, 3},
    {"UTF8", 4, 4},
    {"ISO8859_1", 21, 1},
    {"WIN1250", 51, 1},
    {"WIN1251", 52, 1},
    {"WIN1252", 53, 1},
    {"WIN1253", 54, 1},
    {"WIN1254", 55, 1},
    {"KOI8R", 63, 1},
    {"KOI8U", 64, 1},
    {"DOS866", 48, 1},
    {"ISO8859_5", 35, 1},
}};

constexpr std::size_t kMaxMessage = 60000;

// Strings go as VARCHAR of one of a few sizes, so a run of statements keeps
// one message layout.
unsigned StringCapacity(std::size_t bytes) {
    for (unsigned size : {64u, 256u, 1024u, 4096u}) {
        if (bytes <= size)
            return size;
    }
    return 32765;
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

bool IsExactNumber(unsigned type) {
    return type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64;
}

// Whether value / 10^scale fits the column's type param without change.
bool FitsExactly(const Literal& lit, unsigned type, int param_scale) {
    if (param_scale > 0 || -param_scale < lit.scale)
        return false;
    std::int64_t v = lit.value;
    for (int i = lit.scale; i < -param_scale; ++i) {
        if (v > std::numeric_limits<std::int64_t>::max() / 10 ||
            v < std::numeric_limits<std::int64_t>::min() / 10)
            return false;
        v *= 10;
    }
    if (type == SQL_SHORT)
        return v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max();
    if (type == SQL_LONG)
        return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
    return true;
}

}  // namespace

bool CharsetByName(std::string_view name, unsigned& id, unsigned& max_bytes) {
    for (const CharsetInfo& c : kCharsets) {
        if (EqualsWord(name, c.name)) {
            id = c.id;
            max_bytes = c.max_bytes;
            return true;
        }
    }
    return false;
}

std::optional<CharsetName> CharsetById(unsigned id) {
    for (const CharsetInfo& c : kCharsets) {
        if (c.id == id)
            return CharsetName{c.name, c.max_bytes};
    }
    return std::nullopt;
}

StatementCache::StatementCache(bool enabled) : enabled_(enabled), util_(Master()->getUtilInterface()) {}

StatementCache::~StatementCache() {
    Clear();
}

bool StatementCache::ReuseEnabled() {
    const char* value = std::getenv("TALLO_ENGINE_STATEMENT_REUSE");
    return value == nullptr || std::strcmp(value, "0") != 0;
}

void StatementCache::Clear() {
    blocks_.clear();
    tables_.clear();
    index_.clear();
    entries_.clear();  // each Ref frees its statement
    seen_.clear();
    seen_bytes_ = 0;
    charset_known_ = false;
}

void StatementCache::ReadConnectionCharset(ThrowStatusWrapper* status, Firebird::IAttachment* att) {
    const unsigned char items[] = {frb_info_att_charset, isc_info_end};
    unsigned char buffer[32] = {};
    att->getInfo(status, sizeof items, items, sizeof buffer, buffer);
    connection_max_bytes_ = 0;
    connection_charset_ = 0;
    if (buffer[0] == frb_info_att_charset) {
        const auto length = static_cast<short>(isc_portable_integer(buffer + 1, 2));
        connection_charset_ = static_cast<unsigned>(isc_portable_integer(buffer + 3, length));
        for (const CharsetInfo& c : kCharsets) {
            if (c.id == connection_charset_)
                connection_max_bytes_ = c.max_bytes;
        }
    }
    charset_known_ = true;
}

void StatementCache::Missed() {
    if (++misses_in_a_row_ >= kMissesBeforeSkipping)
        skip_ = kSkipStride - 1;
}

StatementCache::Entry* StatementCache::Find(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                                            Firebird::ITransaction* tra, int dialect) {
    auto found = index_.find(shape_.text);
    if (found != index_.end()) {
        misses_in_a_row_ = 0;
        entries_.splice(entries_.begin(), entries_, found->second);
        return &entries_.front();
    }
    // A shape is prepared the second time it comes: a script of statements
    // that never repeat pays no more than the reading.
    if (seen_.size() >= kSeenCapacity || seen_bytes_ >= kSeenBytes) {
        seen_.clear();
        seen_bytes_ = 0;
    }
    if (seen_.insert(shape_.text).second) {
        seen_bytes_ += shape_.text.size();
        Missed();
        return nullptr;
    }
    misses_in_a_row_ = 0;
    if (entries_.size() >= kCapacity) {
        index_.erase(entries_.back().shape);
        entries_.pop_back();
    }
    Entry entry;
    entry.shape = shape_.text;
    try {
        Prepare(status, att, tra, dialect, entry);
    } catch (const Firebird::FbException&) {
        // The statement as written reports whatever is wrong with it; the
        // shape is tried again next time (a table may be committed by then).
        return nullptr;
    }
    entries_.push_front(std::move(entry));
    index_.emplace(entries_.front().shape, entries_.begin());
    return &entries_.front();
}

void StatementCache::Prepare(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                             Firebird::ITransaction* tra, int dialect, Entry& entry) {
    Ref<IStatement> statement(att->prepare(status, tra, static_cast<unsigned>(entry.shape.size()),
                                           entry.shape.data(), static_cast<unsigned>(dialect),
                                           IStatement::PREPARE_PREFETCH_METADATA));
    const unsigned type = statement->getType(status);
    if (type != isc_info_sql_stmt_insert && type != isc_info_sql_stmt_update &&
        type != isc_info_sql_stmt_delete && type != isc_info_sql_stmt_exec_procedure)
        return;
    Ref<IMessageMetadata> output(statement->getOutputMetadata(status));
    if (output->getCount(status) != 0)
        return;
    Ref<IMessageMetadata> input(statement->getInputMetadata(status));
    const unsigned count = input->getCount(status);
    if (count != shape_.literals.size())
        return;
    entry.params.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        Param& p = entry.params[i];
        p.type = input->getType(status, i) & ~1u;
        p.scale = input->getScale(status, i);
        p.length = input->getLength(status, i);
        p.charset = input->getCharSet(status, i);
        // A literal becomes a blob or array only in the statement itself.
        if (p.type == SQL_BLOB || p.type == SQL_ARRAY)
            return;
    }
    entry.statement = std::move(statement);
}

bool StatementCache::Describe(const Param& param, const Literal& lit, Slot& slot) const {
    slot = Slot();
    if (lit.kind == Literal::Kind::Null)
        return true;
    switch (lit.kind) {
        case Literal::Kind::Null:
            return true;
        case Literal::Kind::Number:
            if (IsExactNumber(param.type) && FitsExactly(lit, param.type, param.scale)) {
                // The column's own type holds the value exactly: no
                // conversion left for the database.
                slot.type = param.type;
                slot.scale = param.scale;
                slot.length = param.type == SQL_SHORT  ? sizeof(std::int16_t)
                              : param.type == SQL_LONG ? sizeof(std::int32_t)
                                                       : sizeof(std::int64_t);
                return true;
            }
            // INTEGER when the digits fit, BIGINT otherwise, as the literal.
            if (lit.value >= std::numeric_limits<std::int32_t>::min() &&
                lit.value <= std::numeric_limits<std::int32_t>::max()) {
                slot.type = SQL_LONG;
                slot.length = sizeof(std::int32_t);
            } else {
                slot.type = SQL_INT64;
                slot.length = sizeof(std::int64_t);
            }
            slot.scale = -lit.scale;
            return !lit.compared;
        case Literal::Kind::String: {
            unsigned max_bytes = connection_max_bytes_;
            slot.charset = connection_charset_;
            if (!lit.charset.empty() && !CharsetByName(lit.charset, slot.charset, max_bytes))
                return false;
            if (slot.charset == 3 || max_bytes == 0)  // UNICODE_FSS, or a connection set not known here
                return false;
            if (slot.charset == 4 && !ValidUtf8(lit.bytes))
                return false;
            slot.type = SQL_VARYING;
            // The column's own size where the string fits it: a message like
            // the statement's is taken without conversion.
            const bool like_column = param.type == SQL_VARYING && param.charset == slot.charset;
            slot.length = like_column && lit.bytes.size() <= param.length ? param.length
                                                                          : StringCapacity(lit.bytes.size());
            if (lit.compared)
                return (param.type == SQL_TEXT || param.type == SQL_VARYING) &&
                       param.charset == slot.charset && lit.bytes.size() * max_bytes <= param.length;
            return true;
        }
        case Literal::Kind::Date:
            slot.type = SQL_TYPE_DATE;
            slot.length = sizeof(ISC_DATE);
            break;
        case Literal::Kind::Time:
            slot.type = SQL_TYPE_TIME;
            slot.length = sizeof(ISC_TIME);
            break;
        case Literal::Kind::Timestamp:
            slot.type = SQL_TIMESTAMP;
            slot.length = sizeof(ISC_TIMESTAMP);
            break;
    }
    // A date or time becomes text in another form than the literal does.
    if (lit.compared)
        return param.type == slot.type;
    return param.type == SQL_TYPE_DATE || param.type == SQL_TYPE_TIME || param.type == SQL_TIMESTAMP;
}

void StatementCache::BuildMessage(ThrowStatusWrapper* status, IStatement* statement,
                                  const std::vector<Param>& params, const std::vector<Slot>& slots,
                                  Message& message) {
    Ref<IMessageMetadata> described(statement->getInputMetadata(status));
    MetadataBuilder builder(described->getBuilder(status));
    for (unsigned i = 0; i < slots.size(); ++i) {
        const Slot& s = slots[i];
        if (s.type == 0) {
            builder->setType(status, i, params[i % params.size()].type | 1u);
            continue;
        }
        builder->setType(status, i, s.type | 1u);
        builder->setSubType(status, i, 0);
        builder->setLength(status, i, s.length);
        builder->setScale(status, i, s.scale);
        if (s.type == SQL_VARYING)
            builder->setCharSet(status, i, s.charset);
    }
    message.metadata = Ref<IMessageMetadata>(builder->getMetadata(status));
    message.offsets.resize(slots.size());
    message.null_offsets.resize(slots.size());
    for (unsigned i = 0; i < slots.size(); ++i) {
        message.offsets[i] = message.metadata->getOffset(status, i);
        message.null_offsets[i] = message.metadata->getNullOffset(status, i);
    }
    message.buffer.assign(message.metadata->getMessageLength(status), 0);
    message.slots = slots;
}

void StatementCache::Fill(Entry& entry) {
    const Message& m = entry.message;
    FillRow(shape_.literals, m.slots.data(), m.offsets.data(), m.null_offsets.data(),
            entry.message.buffer.data());
}

void StatementCache::FillRow(const std::vector<Literal>& literals, const Slot* slots, const unsigned* offsets,
                             const unsigned* null_offsets, unsigned char* buffer) {
    for (std::size_t i = 0; i < literals.size(); ++i) {
        const Literal& lit = literals[i];
        unsigned char* at = buffer + offsets[i];
        const short null_flag = lit.kind == Literal::Kind::Null ? -1 : 0;
        std::memcpy(buffer + null_offsets[i], &null_flag, sizeof null_flag);
        switch (lit.kind) {
            case Literal::Kind::Null:
                break;
            case Literal::Kind::Number: {
                // Checked to fit when the slot's scale is finer than the literal's.
                std::int64_t value = lit.value;
                for (int k = lit.scale; k < -slots[i].scale; ++k)
                    value *= 10;
                if (slots[i].type == SQL_SHORT) {
                    const auto v = static_cast<std::int16_t>(value);
                    std::memcpy(at, &v, sizeof v);
                } else if (slots[i].type == SQL_LONG) {
                    const auto v = static_cast<std::int32_t>(value);
                    std::memcpy(at, &v, sizeof v);
                } else {
                    std::memcpy(at, &value, sizeof value);
                }
                break;
            }
            case Literal::Kind::String: {
                const auto length = static_cast<unsigned short>(lit.bytes.size());
                std::memcpy(at, &length, sizeof length);
                std::memcpy(at + sizeof length, lit.bytes.data(), lit.bytes.size());
                break;
            }
            case Literal::Kind::Date: {
                const ISC_DATE d =
                    util_->encodeDate(static_cast<unsigned>(lit.year), static_cast<unsigned>(lit.month),
                                      static_cast<unsigned>(lit.day));
                std::memcpy(at, &d, sizeof d);
                break;
            }
            case Literal::Kind::Time: {
                const ISC_TIME t =
                    util_->encodeTime(static_cast<unsigned>(lit.hour), static_cast<unsigned>(lit.minute),
                                      static_cast<unsigned>(lit.second), static_cast<unsigned>(lit.fraction));
                std::memcpy(at, &t, sizeof t);
                break;
            }
            case Literal::Kind::Timestamp: {
                ISC_TIMESTAMP ts;
                ts.timestamp_date =
                    util_->encodeDate(static_cast<unsigned>(lit.year), static_cast<unsigned>(lit.month),
                                      static_cast<unsigned>(lit.day));
                ts.timestamp_time =
                    util_->encodeTime(static_cast<unsigned>(lit.hour), static_cast<unsigned>(lit.minute),
                                      static_cast<unsigned>(lit.second), static_cast<unsigned>(lit.fraction));
                std::memcpy(at, &ts, sizeof ts);
                break;
            }
        }
    }
}

bool StatementCache::Execute(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                             Firebird::ITransaction* compile, Firebird::ITransaction* tra, int dialect,
                             std::string_view sql, std::int64_t* rows_affected) {
    if (!enabled_ || dialect != 3)
        return false;
    if (skip_ > 0) {
        --skip_;
        return false;
    }
    if (!ReadLiteralShape(sql, shape_)) {
        Missed();
        return false;
    }
    if (!charset_known_)
        ReadConnectionCharset(status, att);
    Entry* found = Find(status, att, compile, dialect);
    if (found == nullptr || !found->statement)
        return false;
    Entry& entry = *found;
    slots_.resize(shape_.literals.size());
    std::size_t message_size = 0;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (!Describe(entry.params[i], shape_.literals[i], slots_[i]))
            return false;
        message_size += slots_[i].length + 8;
    }
    // A message past Firebird's limit is left to the statement as written.
    if (message_size > kMaxMessage)
        return false;
    if (!entry.message.metadata || slots_ != entry.message.slots)
        BuildMessage(status, entry.statement.get(), entry.params, slots_, entry.message);
    Fill(entry);
    try {
        entry.statement->execute(status, tra, entry.message.metadata.get(), entry.message.buffer.data(),
                                 nullptr, nullptr);
    } catch (const Firebird::FbException& e) {
        // A value the parameter could not take fails while the message is
        // read, before anything runs, and with other words than the
        // statement as written would use: that one runs and tells.
        const std::intptr_t* v = e.getStatus()->getErrors();
        if (v[0] == isc_arg_gds && v[1] == isc_dsql_error && v[2] == isc_arg_gds && v[3] == isc_sqlerr &&
            v[4] == isc_arg_number && v[5] == -303)
            return false;
        throw;
    }
    if (rows_affected != nullptr)
        *rows_affected = static_cast<std::int64_t>(entry.statement->getAffectedRecords(status));
    return true;
}

bool KeepsStatements(StatementKind kind, std::string_view sql) {
    switch (kind) {
        case StatementKind::Ddl:
            return false;
        case StatementKind::Prepared:
            break;
        default:
            return true;
    }
    Lexer words(sql);
    const std::string_view first = words.NextWord();
    if (EqualsWord(first, "EXECUTE"))
        return EqualsWord(words.NextWord(), "PROCEDURE");
    return EqualsWord(first, "SELECT") || EqualsWord(first, "WITH") || EqualsWord(first, "INSERT") ||
           EqualsWord(first, "UPDATE") || EqualsWord(first, "DELETE") || EqualsWord(first, "MERGE");
}

}  // namespace tallo::engine::fb
