// The progress line of a long recursive listing: files seen and items found, redrawn in
// place on standard error, only when a person watches both output streams.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace quarrow2::tool {

class Progress {
public:
    explicit Progress(bool shown);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress();

    // Counts one more file and its items; redraws now and then.
    void FileSeen(size_t items);
    bool Shown() const { return shown_; }
    // Takes the line away before anything else is written to the terminal.
    void Clear();

private:
    void Draw();

    bool shown_;
    size_t files_ = 0;
    size_t items_ = 0;
    size_t drawnWidth_ = 0;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace quarrow2::tool
