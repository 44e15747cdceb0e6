#pragma once
// libavformat and libavutil, opened at run time: linking them would cost every run their loading,
// while only media inputs need them.

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <string>

struct LibAv {
    std::string
        failure; // why the libraries cannot be used, and what to install; empty when they can
    void* format = nullptr;
    void* util = nullptr;
    decltype(&av_probe_input_format2) probe = nullptr;
    decltype(&avformat_open_input) openInput = nullptr;
    decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
    decltype(&avformat_close_input) closeInput = nullptr;
    decltype(&av_dict_get) dictGet = nullptr;
    decltype(&av_dict_set) dictSet = nullptr;
    decltype(&av_dict_free) dictFree = nullptr;
    decltype(&av_strerror) errorText = nullptr;
};

// Opens the libraries of the sonames these headers were made for, looks up every function used
// and silences the libraries' own log. They stay loaded until the process ends.
LibAv loadLibAv();
