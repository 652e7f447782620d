#include "script/protocol_list.h"

#include <cerrno>
#include <memory>

#include "base/errors.h"

namespace tallo::script {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kReadPiece = 1 << 20;

}  // namespace

void ProtocolList::push_back(std::string_view entry) {
    text_.append(entry).append(kLineEnd);
    ++count_;
    if (text_.size() >= in_memory_ && !spill_failed_)
        Spill();
}

void ProtocolList::Spill() {
    int error = 0;
    if (!file_) {
        auto file = std::make_shared<platform::File>(platform::File::Temporary(&error));
        if (!file->IsOpen()) {
            spill_failed_ = true;
            return;
        }
        file_ = std::move(file);
    }
    // A write that fails keeps its entries here; what the file holds past
    // spilled_ is never read.
    if (file_->Write(text_.data(), text_.size(), &error) != static_cast<std::int64_t>(text_.size())) {
        spill_failed_ = true;
        return;
    }
    spilled_ += text_.size();
    text_.clear();
}

platform::PieceSource ProtocolList::Pieces() const {
    struct Reading {
        std::uint64_t left = 0;
        bool rewound = false;
        bool tail_given = false;
        std::string buffer;
    };
    auto reading = std::make_shared<Reading>();
    reading->left = spilled_;
    return [this, reading](std::string_view* piece, int* error) {
        Reading& r = *reading;
        if (r.left > 0) {
            if (!r.rewound && !file_->Rewind(error))
                return false;
            r.rewound = true;
            r.buffer.resize(r.left < kReadPiece ? static_cast<std::size_t>(r.left) : kReadPiece);
            const std::int64_t got = file_->Read(r.buffer.data(), r.buffer.size(), error);
            if (got < 0)
                return false;
            if (got != static_cast<std::int64_t>(r.buffer.size())) {
                *error = EIO;
                return false;
            }
            r.left -= r.buffer.size();
            *piece = r.buffer;
            return true;
        }
        *piece = r.tail_given ? std::string_view() : std::string_view(text_);
        r.tail_given = true;
        return true;
    };
}

std::string ProtocolList::Text() const {
    std::string text;
    text.reserve(static_cast<std::size_t>(bytes()));
    const platform::PieceSource pieces = Pieces();
    std::string_view piece;
    int error = 0;
    while (true) {
        if (!pieces(&piece, &error))
            throw IoFailure(platform::NeutralErrorCode(error, {}));
        if (piece.empty())
            return text;
        text += piece;
    }
}

}  // namespace tallo::script
