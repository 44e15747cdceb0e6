#pragma once
// libavformat and libavutil, opened at run time: linking them would cost every run their loading,
// while only media inputs need them.

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <string>
#include <string_view>

struct LibAv {
    std::string failure; // why the libraries cannot be used; empty when they can
    void* format = nullptr;
    void* util = nullptr;
    decltype(&av_probe_input_format2) probe = nullptr;
    decltype(&av_probe_input_buffer2) probeBuffer = nullptr;
    decltype(&avio_alloc_context) allocIo = nullptr;
    decltype(&avio_context_free) freeIo = nullptr;
    decltype(&avformat_alloc_context) allocContext = nullptr;
    decltype(&avformat_open_input) openInput = nullptr;
    decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
    decltype(&avformat_close_input) closeInput = nullptr;
    decltype(&av_read_frame) readFrame = nullptr;
    decltype(&av_seek_frame) seekFrame = nullptr;
    decltype(&av_packet_alloc) allocPacket = nullptr; // libavcodec's, which libavformat loads
    decltype(&av_packet_free) freePacket = nullptr;
    decltype(&av_packet_unref) unrefPacket = nullptr;
    decltype(&av_packet_get_side_data) sideData = nullptr;
    decltype(&av_malloc) alloc = nullptr;
    decltype(&av_freep) freep = nullptr;
    decltype(&av_dict_get) dictGet = nullptr;
    decltype(&av_dict_set) dictSet = nullptr;
    decltype(&av_dict_free) dictFree = nullptr;
    decltype(&av_strerror) errorText = nullptr;
};

// Opens the libraries of the sonames these headers were made for, looks up every function used
// and silences the libraries' own log. They stay loaded until the process ends.
LibAv loadLibAv();

// Why SONAME did not load, from the loader's reason WHY: what to install only where the library
// is not there; a library that is there but cannot be loaded needs no package.
std::string cannotLoad(std::string_view soname, std::string_view why);
