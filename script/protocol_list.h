// The run's protocol, entry by entry, as its file will hold it: each entry
// followed by CR LF. Past kInMemory bytes the entries go on to a temporary
// file of the process's own (no name, removed when the list goes), so a run
// of millions of statements does not hold its protocol, nearly the script's
// size again, in memory. When no such file can be made or written, the
// entries stay in memory: none is ever lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/platform.h"

namespace tallo::script {

class ProtocolList {
  public:
    static constexpr std::size_t kInMemory = 1 << 20;

    ProtocolList() = default;
    explicit ProtocolList(std::size_t in_memory) : in_memory_(in_memory) {}
    ProtocolList(ProtocolList&&) noexcept = default;
    ProtocolList& operator=(ProtocolList&&) noexcept = default;

    void push_back(std::string_view entry);
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Bytes of the protocol file: the entries with their line ends.
    std::uint64_t bytes() const { return spilled_ + text_.size(); }

    // The protocol's bytes piece by piece, from the start; a piece that
    // cannot be read back from the temporary file answers false with the
    // system's code. Valid while the list is neither changed nor moved.
    platform::PieceSource Pieces() const;
    // The whole protocol as one text (IoFailure when the temporary file
    // cannot be read back).
    std::string Text() const;

  private:
    void Spill();

    std::size_t in_memory_ = kInMemory;
    std::string text_;  // the entries after the spilled ones
    std::size_t count_ = 0;
    // The temporary file; its first spilled_ bytes are the protocol's start.
    std::shared_ptr<platform::File> file_;
    std::uint64_t spilled_ = 0;
    bool spill_failed_ = false;
};

}  // namespace tallo::script
