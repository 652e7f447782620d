// Turns the output messages of one statement into the text values a RowSink
// receives. The layout is read once per statement; the value strings and the
// message buffer keep their storage from row to row and statement to
// statement, so a long run allocates nothing per row once warmed up.
#pragma once

#include <firebird/Interface.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/session.h"

namespace tallo::engine::fb {

class RowReader {
  public:
    // Reads the layout of meta (the statement's output message).
    void Describe(Firebird::ThrowStatusWrapper* status, Firebird::IMessageMetadata* meta);

    const std::vector<Column>& columns() const { return columns_; }
    unsigned char* buffer() { return buffer_.data(); }

    // Formats the message in buffer(); BLOB contents are read through
    // attachment and transaction.
    const std::vector<std::optional<std::string>>& Format(Firebird::ThrowStatusWrapper* status,
                                                          Firebird::IAttachment* attachment,
                                                          Firebird::ITransaction* transaction);

  private:
    struct Field {
        unsigned type;
        int sub_type;
        int scale;
        unsigned length;
        unsigned charset;
        unsigned offset;
        unsigned null_offset;
    };

    void FormatValue(const Field& field, const unsigned char* data, std::string& out,
                     Firebird::ThrowStatusWrapper* status, Firebird::IAttachment* attachment,
                     Firebird::ITransaction* transaction);
    void ReadBlob(const Field& field, const ISC_QUAD& id, std::string& out,
                  Firebird::ThrowStatusWrapper* status, Firebird::IAttachment* attachment,
                  Firebird::ITransaction* transaction);

    std::vector<Field> fields_;
    std::vector<Column> columns_;
    std::vector<std::optional<std::string>> values_;
    std::vector<unsigned char> buffer_;
    std::string segment_;
};

}  // namespace tallo::engine::fb
