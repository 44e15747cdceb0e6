#include "libav.hpp"

extern "C" {
#include <libavformat/version_major.h>
#include <libavutil/log.h>
#include <libavutil/version.h>
}

#include <cerrno>
#include <cstring>
#include <dlfcn.h>

namespace {

// The major version is the ABI: a library of another one would not match these headers.
constexpr std::string_view formatSoname = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
constexpr std::string_view utilSoname = "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR);

// Debian names a library's package after its soname: libavformat.so.59 is in libavformat59.
std::string packageOf(std::string_view soname) {
    return std::string(soname.substr(0, soname.find('.'))) +
           std::string(soname.substr(soname.rfind('.') + 1));
}

std::string failureOf(std::string_view soname) {
    const char* const why = dlerror();
    return cannotLoad(soname, why ? why : "unknown reason");
}

// Symbols are bound at their first call: the libraries' hundreds of dependencies would otherwise
// all be bound for the few functions used. The versioned soname keeps them from being missing.
void* openLibrary(std::string_view soname) {
    return dlopen(std::string(soname).c_str(), RTLD_LAZY | RTLD_LOCAL);
}

template <typename Function>
bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// Looks up the function by its own name, into a pointer that must have its type.
#define LOOK_UP(library, pointer, function) lookUp<decltype(&function)>(library, #function, pointer)

bool lookUpFormat(LibAv& av) {
    return LOOK_UP(av.format, av.probe, av_probe_input_format2) &&
           LOOK_UP(av.format, av.probeBuffer, av_probe_input_buffer2) &&
           LOOK_UP(av.format, av.allocIo, avio_alloc_context) &&
           LOOK_UP(av.format, av.freeIo, avio_context_free) &&
           LOOK_UP(av.format, av.allocContext, avformat_alloc_context) &&
           LOOK_UP(av.format, av.openInput, avformat_open_input) &&
           LOOK_UP(av.format, av.findStreamInfo, avformat_find_stream_info) &&
           LOOK_UP(av.format, av.closeInput, avformat_close_input) &&
           LOOK_UP(av.format, av.readFrame, av_read_frame) &&
           LOOK_UP(av.format, av.seekFrame, av_seek_frame) &&
           LOOK_UP(av.format, av.allocPacket, av_packet_alloc) &&
           LOOK_UP(av.format, av.freePacket, av_packet_free) &&
           LOOK_UP(av.format, av.unrefPacket, av_packet_unref) &&
           LOOK_UP(av.format, av.sideData, av_packet_get_side_data);
}

bool lookUpUtil(LibAv& av, decltype(&av_log_set_level)& setLogLevel) {
    return LOOK_UP(av.util, av.alloc, av_malloc) && LOOK_UP(av.util, av.freep, av_freep) &&
           LOOK_UP(av.util, av.dictGet, av_dict_get) && LOOK_UP(av.util, av.dictSet, av_dict_set) &&
           LOOK_UP(av.util, av.dictFree, av_dict_free) &&
           LOOK_UP(av.util, av.errorText, av_strerror) &&
           LOOK_UP(av.util, setLogLevel, av_log_set_level);
}

} // namespace

std::string cannotLoad(std::string_view soname, std::string_view why) {
    std::string text = "cannot load " + std::string(soname) + " (" + std::string(why) + ")";
    // The loader ends its message with the system's reason; only this one means no such file.
    if (why.ends_with(std::strerror(ENOENT)))
        text += "; to read media files, apt-get install " + packageOf(soname);
    return text;
}

LibAv loadLibAv() {
    LibAv av;
    if ((av.format = openLibrary(formatSoname)) == nullptr || !lookUpFormat(av)) {
        av.failure = failureOf(formatSoname);
        return av;
    }
    decltype(&av_log_set_level) setLogLevel = nullptr;
    if ((av.util = openLibrary(utilSoname)) == nullptr || !lookUpUtil(av, setLogLevel)) {
        av.failure = failureOf(utilSoname);
        return av;
    }
    // What goes wrong is said in chapcat's own words; the libraries' log would only repeat it.
    setLogLevel(AV_LOG_QUIET);
    return av;
}
