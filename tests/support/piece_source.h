// A script text read in pieces of at most a few bytes, as the engine's
// worker reads the caller's text: every window the splitter reads is cut at
// an awkward place.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/splitter.h"

namespace tallo::engine {

class PieceSource final : public ScriptSource {
  public:
    PieceSource(std::string_view text, std::size_t piece) : text_(CutAtNul(text)), piece_(piece) {}
    std::uint64_t Size() const override { return text_.size(); }
    void Read(std::uint64_t offset, std::size_t size, std::string& into) override {
        into.append(text_.substr(static_cast<std::size_t>(offset), std::min(size, piece_)));
    }

  private:
    std::string_view text_;
    std::size_t piece_;
};

}  // namespace tallo::engine
