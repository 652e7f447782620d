#include "engine/firebird/statement_block.h"

#include <ibase.h>

#include <cstdlib>
#include <cstring>

#include "engine/firebird/statement_cache.h"
#include "text/letter_case.h"
#include "text/lexer.h"
#include "text/quoting.h"

namespace tallo::engine::fb {

using Firebird::IMessageMetadata;
using Firebird::IStatement;

std::optional<std::string> DeclaredType(const DescribedParam& param) {
    const auto exact = [&param](const char* integer, int precision) -> std::string {
        if (param.scale == 0)
            return integer;
        std::string text = "NUMERIC(";
        text.append(std::to_string(precision)).append(", ").append(std::to_string(-param.scale)).append(")");
        return text;
    };
    switch (param.type) {
        case SQL_SHORT:
            return exact("SMALLINT", 4);
        case SQL_LONG:
            return exact("INTEGER", 9);
        case SQL_INT64:
            return exact("BIGINT", 18);
        case SQL_FLOAT:
            return std::string("FLOAT");
        case SQL_DOUBLE:
            return std::string("DOUBLE PRECISION");
        case SQL_TYPE_DATE:
            return std::string("DATE");
        case SQL_TYPE_TIME:
            return std::string("TIME");
        case SQL_TIMESTAMP:
            return std::string("TIMESTAMP");
        case SQL_BOOLEAN:
            return std::string("BOOLEAN");
        case SQL_TEXT:
        case SQL_VARYING: {
            const std::optional<CharsetName> charset = CharsetById(param.charset);
            if (!charset || charset->max_bytes == 0 || param.length % charset->max_bytes != 0)
                return std::nullopt;
            std::string text = param.type == SQL_TEXT ? "CHAR(" : "VARCHAR(";
            text.append(std::to_string(param.length / charset->max_bytes))
                .append(") CHARACTER SET ")
                .append(charset->name);
            return text;
        }
        default:
            return std::nullopt;
    }
}

std::string BlockText(const std::string& shape_text, const std::vector<std::size_t>& markers,
                      const std::vector<std::string>& types, unsigned rows) {
    const std::size_t per_row = types.size();
    std::string text = per_row == 0 ? "EXECUTE BLOCK" : "EXECUTE BLOCK (";
    for (unsigned r = 0; r < rows; ++r) {
        for (std::size_t k = 0; k < per_row; ++k) {
            if (r + k > 0)
                text += ", ";
            text.append("P")
                .append(std::to_string(r * per_row + k))
                .append(" ")
                .append(types[k])
                .append(" = ?");
        }
    }
    text += per_row == 0 ? "\nAS\nBEGIN\n" : ")\nAS\nBEGIN\n";
    for (unsigned r = 0; r < rows; ++r) {
        std::size_t from = 0;
        for (std::size_t k = 0; k < markers.size(); ++k) {
            text.append(shape_text, from, markers[k] - from);
            text.append(":P").append(std::to_string(r * per_row + k));
            from = markers[k] + 1;
        }
        text.append(shape_text, from, std::string::npos);
        text += ";\n";
    }
    text += "END";
    return text;
}

// The cache's blocks: statements of one shape sent together.

namespace {

// Rows a block takes at most, and the most its message may hold (Firebird
// refuses messages from 64 KB).
constexpr unsigned kMaxRows = 32;
constexpr std::size_t kMaxBlockMessage = 60000;

// INSERT INTO t, UPDATE t, DELETE FROM t: the table's name as the system
// tables hold it; empty for anything else.
std::string TableOfShape(std::string_view shape) {
    Lexer words(shape);
    const std::string_view first = words.NextWord();
    if (EqualsWord(first, "INSERT") || EqualsWord(first, "DELETE")) {
        const std::string_view into = words.NextWord();
        if (!EqualsWord(into, "INTO") && !EqualsWord(into, "FROM"))
            return {};
    } else if (!EqualsWord(first, "UPDATE")) {
        return {};
    }
    const Lexeme name = words.NextCode();
    if (name.kind == TokenKind::Word) {
        std::string upper(shape.substr(name.begin, name.end - name.begin));
        for (char& c : upper)
            c = static_cast<char>(ascii::ToUpper(static_cast<unsigned char>(c)));
        return upper;
    }
    if (name.kind == TokenKind::Quoted) {
        std::string inner;
        AppendUndoubled(inner, shape.substr(name.inner_begin, name.inner_end - name.inner_begin), '"');
        return inner;
    }
    return {};
}

}  // namespace

bool StatementCache::BlocksEnabled() {
    const char* value = std::getenv("TALLO_ENGINE_STATEMENT_BLOCKS");
    return value == nullptr || std::strcmp(value, "0") != 0;
}

bool StatementCache::TableTakesBlocks(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                                      Firebird::ITransaction* tra, int dialect, std::string_view shape) {
    const std::string table = TableOfShape(shape);
    if (table.empty())
        return false;
    const auto known = tables_.find(table);
    if (known != tables_.end())
        return known->second;
    // A table of its own (no view), whose rows nothing but the statement
    // writes: no trigger of a user, no identity column, no default (a
    // default's value may depend on the moment or a generator, which a
    // block that fails and runs again row by row would not give back).
    const std::string sql =
        "select count(*) from rdb$relations r where r.rdb$relation_name = " + Q(table) +
        " and r.rdb$view_blr is null and coalesce(r.rdb$relation_type, 0) = 0"
        " and not exists (select 1 from rdb$triggers t where t.rdb$relation_name = r.rdb$relation_name"
        " and coalesce(t.rdb$system_flag, 0) = 0)"
        " and not exists (select 1 from rdb$relation_fields f where f.rdb$relation_name = r.rdb$relation_name"
        " and f.rdb$identity_type is not null)"
        " and not exists (select 1 from rdb$relation_fields f join rdb$fields d"
        " on d.rdb$field_name = f.rdb$field_source where f.rdb$relation_name = r.rdb$relation_name"
        " and (f.rdb$default_source is not null or d.rdb$default_source is not null))";
    bool takes = false;
    try {
        Ref<IStatement> statement(att->prepare(status, tra, static_cast<unsigned>(sql.size()), sql.data(),
                                               static_cast<unsigned>(dialect), 0));
        Ref<IMessageMetadata> output(statement->getOutputMetadata(status));
        std::vector<unsigned char> row(output->getMessageLength(status));
        Ref<Firebird::IResultSet> cursor(
            statement->openCursor(status, tra, nullptr, nullptr, output.get(), 0));
        if (cursor->fetchNext(status, row.data()) == Firebird::IStatus::RESULT_OK) {
            std::int64_t count = 0;
            std::memcpy(&count, row.data() + output->getOffset(status, 0), sizeof count);
            takes = count == 1;
        }
        cursor->close(status);
        cursor.Ended();
        statement->free(status);
        statement.Ended();
    } catch (const Firebird::FbException&) {
        takes = false;
    }
    tables_.emplace(table, takes);
    return takes;
}

StatementCache::Block* StatementCache::BlockFor(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                                                Firebird::ITransaction* tra, int dialect, const Entry& entry,
                                                unsigned rows) {
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
        if (it->rows == rows && it->shape == entry.shape) {
            blocks_.splice(blocks_.begin(), blocks_, it);
            return &blocks_.front();
        }
    }
    std::vector<std::string> types;
    for (const Param& p : entry.params) {
        const std::optional<std::string> declared = DeclaredType({p.type, p.scale, p.length, p.charset});
        if (!declared)
            return nullptr;
        types.push_back(*declared);
    }
    const std::string text = BlockText(entry.shape, shape_.markers, types, rows);
    Block block;
    block.shape = entry.shape;
    block.rows = rows;
    block.statement = Ref<IStatement>(att->prepare(status, tra, static_cast<unsigned>(text.size()),
                                                   text.data(), static_cast<unsigned>(dialect), 0));
    if (blocks_.size() >= kCapacity)
        blocks_.pop_back();
    blocks_.push_front(std::move(block));
    return &blocks_.front();
}

std::size_t StatementCache::ExecuteBlock(ThrowStatusWrapper* status, Firebird::IAttachment* att,
                                         Firebird::ITransaction* compile, Firebird::ITransaction* tra,
                                         int dialect, const std::vector<std::string_view>& sqls) {
    if (!enabled_ || !blocks_enabled_ || dialect != 3 || sqls.size() < 2)
        return 0;
    if (!ReadLiteralShape(sqls[0], shape_))
        return 0;
    if (!charset_known_)
        ReadConnectionCharset(status, att);
    auto found = index_.find(shape_.text);
    if (found == index_.end() || !found->second->statement)
        return 0;
    const Entry& entry = *found->second;
    if (!TableTakesBlocks(status, att, compile, dialect, entry.shape))
        return 0;
    // The rows: statements of the shape, each literal one the statement run
    // alone would take as a parameter, no string compared (a comparison
    // follows collation rules a declared parameter need not share).
    const std::size_t per_row = entry.params.size();
    std::size_t row_bytes = 0;
    std::vector<Slot> slots;
    rows_.clear();
    row_shape_ = shape_;
    for (std::string_view sql : sqls) {
        if (rows_.size() == kMaxRows)
            break;
        if (!ReadLiteralShape(sql, row_shape_) || row_shape_.text != entry.shape)
            break;
        std::vector<Slot> row(per_row);
        std::size_t bytes = 0;
        bool fits = true;
        for (std::size_t k = 0; k < per_row && fits; ++k) {
            const Literal& lit = row_shape_.literals[k];
            fits = !(lit.compared && lit.kind == Literal::Kind::String) &&
                   Describe(entry.params[k], lit, row[k]);
            bytes += row[k].length + 8;
        }
        if (!fits || row_bytes + bytes > kMaxBlockMessage)
            break;
        row_bytes += bytes;
        slots.insert(slots.end(), row.begin(), row.end());
        rows_.push_back(row_shape_.literals);
    }
    if (rows_.size() < 2)
        return 0;
    const auto rows = static_cast<unsigned>(rows_.size());
    try {
        Block* found_block = BlockFor(status, att, compile, dialect, entry, rows);
        if (found_block == nullptr)
            return 0;
        Block& block = *found_block;
        Message& m = block.message;
        if (!m.metadata || slots != m.slots)
            BuildMessage(status, block.statement.get(), entry.params, slots, m);
        for (unsigned r = 0; r < rows; ++r)
            FillRow(rows_[r], m.slots.data() + r * per_row, m.offsets.data() + r * per_row,
                    m.null_offsets.data() + r * per_row, m.buffer.data());
        block.statement->execute(status, tra, m.metadata.get(), m.buffer.data(), nullptr, nullptr);
    } catch (const Firebird::FbException&) {
        // A block is one statement: nothing of it remains, and its
        // statements run one by one and tell what went wrong where.
        return 0;
    }
    return rows;
}

}  // namespace tallo::engine::fb
