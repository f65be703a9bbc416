#include "tools/formats/progress.h"

#include <cstdio>

namespace quarrow2::tool {
namespace {

// Often enough to look alive, rarely enough to cost nothing.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

Progress::Progress(bool shown) : shown_(shown) {}

Progress::~Progress() { Clear(); }

void Progress::FileSeen(size_t items) {
    ++files_;
    items_ += items;
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    Draw();
}

void Progress::Draw() {
    std::string line =
        "files seen: " + std::to_string(files_) + ", items found: " + std::to_string(items_);
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    drawnWidth_ = line.size();
}

void Progress::Clear() {
    if (!shown_ || drawnWidth_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(drawnWidth_, ' ').c_str());
    std::fflush(stderr);
    drawnWidth_ = 0;
}

}  // namespace quarrow2::tool
