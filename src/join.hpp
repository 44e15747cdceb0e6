#pragma once
// The tools that join the parts, each starting the next part at a point of its own.

#include <string_view>

enum class Join {
    ffmpeg,       // its concat demuxer: at the end of the part's duration
    mkvmerge,     // its append: at the end of the part's last frame, from its first timestamp
    ffmpegFilter, // its concat filter, which decodes: at the end of the part's decoded sound
};

struct JoinName {
    Join join;
    std::string_view name;
    std::string_view rule; // for --verbose: how it found where the part ends
};

constexpr JoinName joinNames[] = {
    {Join::ffmpeg, "ffmpeg", "as ffmpeg's concat demuxer joins it: its duration"},
    {Join::mkvmerge, "mkvmerge", "as mkvmerge appends it: the end of its last frame"},
    {Join::ffmpegFilter, "ffmpeg-filter",
     "as ffmpeg's concat filter joins it: the samples its sound decodes to"},
};
