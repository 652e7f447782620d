#include "engine/firebird/row_reader.h"

#include <ibase.h>

#include <cstring>

#include "engine/firebird/fb_api.h"
#include "engine/firebird/value_format.h"

namespace tallo::engine::fb {
namespace {

constexpr unsigned kCharsetOctets = 1;
constexpr int kBlobSubTypeText = 1;

template <class T>
T Load(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

bool IsNumeric(unsigned type) {
    switch (type) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return true;
        default:
            return false;
    }
}

}  // namespace

void RowReader::Describe(Firebird::ThrowStatusWrapper* status, Firebird::IMessageMetadata* meta) {
    unsigned count = meta->getCount(status);
    fields_.resize(count);
    columns_.resize(count);
    values_.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        Field& f = fields_[i];
        f.type = meta->getType(status, i) & ~1u;
        f.sub_type = meta->getSubType(status, i);
        f.scale = meta->getScale(status, i);
        f.length = meta->getLength(status, i);
        f.charset = meta->getCharSet(status, i);
        f.offset = meta->getOffset(status, i);
        f.null_offset = meta->getNullOffset(status, i);
        columns_[i].name = meta->getAlias(status, i);
        columns_[i].numeric = IsNumeric(f.type);
    }
    buffer_.resize(meta->getMessageLength(status));
}

const std::vector<std::optional<std::string>>& RowReader::Format(Firebird::ThrowStatusWrapper* status,
                                                                 Firebird::IAttachment* attachment,
                                                                 Firebird::ITransaction* transaction) {
    const unsigned char* message = buffer_.data();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const Field& f = fields_[i];
        if (Load<ISC_SHORT>(message + f.null_offset) != 0) {
            values_[i].reset();
            continue;
        }
        std::string& out = values_[i] ? *values_[i] : values_[i].emplace();
        out.clear();
        FormatValue(f, message + f.offset, out, status, attachment, transaction);
    }
    return values_;
}

void RowReader::FormatValue(const Field& f, const unsigned char* data, std::string& out,
                            Firebird::ThrowStatusWrapper* status, Firebird::IAttachment* attachment,
                            Firebird::ITransaction* transaction) {
    switch (f.type) {
        case SQL_TEXT: {
            if (f.charset == kCharsetOctets) {
                AppendHex(data, f.length, out);
                break;
            }
            std::size_t n = f.length;
            while (n > 0 && data[n - 1] == ' ')
                --n;
            out.append(reinterpret_cast<const char*>(data), n);
            break;
        }
        case SQL_VARYING: {
            auto n = Load<ISC_USHORT>(data);
            if (f.charset == kCharsetOctets) {
                AppendHex(data + 2, n, out);
            } else {
                out.append(reinterpret_cast<const char*>(data + 2), n);
            }
            break;
        }
        case SQL_SHORT:
            AppendScaled(Load<ISC_SHORT>(data), f.scale, out);
            break;
        case SQL_LONG:
            AppendScaled(Load<ISC_LONG>(data), f.scale, out);
            break;
        case SQL_INT64:
            AppendScaled(Load<ISC_INT64>(data), f.scale, out);
            break;
        case SQL_FLOAT:
            AppendFloat(Load<float>(data), out);
            break;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            AppendDouble(Load<double>(data), out);
            break;
        case SQL_TYPE_DATE:
            AppendDate(Load<ISC_DATE>(data), out);
            break;
        case SQL_TYPE_TIME:
            AppendTime(Load<ISC_TIME>(data), out);
            break;
        case SQL_TIMESTAMP: {
            auto ts = Load<ISC_TIMESTAMP>(data);
            AppendDate(ts.timestamp_date, out);
            out.push_back(' ');
            AppendTime(ts.timestamp_time, out);
            break;
        }
        case SQL_BOOLEAN:
            out.append(*data != 0 ? "TRUE" : "FALSE");
            break;
        case SQL_BLOB:
            ReadBlob(f, Load<ISC_QUAD>(data), out, status, attachment, transaction);
            break;
        default:
            // Arrays and anything newer than this client: the raw bytes.
            AppendHex(data, f.length, out);
            break;
    }
}

void RowReader::ReadBlob(const Field& f, const ISC_QUAD& id, std::string& out,
                         Firebird::ThrowStatusWrapper* status, Firebird::IAttachment* attachment,
                         Firebird::ITransaction* transaction) {
    ISC_QUAD blob_id = id;
    Ref<Firebird::IBlob> blob(attachment->openBlob(status, transaction, &blob_id, 0, nullptr));
    bool text = f.sub_type == kBlobSubTypeText && f.charset != kCharsetOctets;
    segment_.resize(32768);
    for (;;) {
        unsigned got = 0;
        int rc = blob->getSegment(status, static_cast<unsigned>(segment_.size()), segment_.data(), &got);
        if (rc != Firebird::IStatus::RESULT_OK && rc != Firebird::IStatus::RESULT_SEGMENT)
            break;
        if (text) {
            out.append(segment_.data(), got);
        } else {
            AppendHex(segment_.data(), got, out);
        }
    }
    blob->close(status);
    blob.Ended();
}

}  // namespace tallo::engine::fb
