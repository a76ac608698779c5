#pragma once

#include <zlib.h>
#include <zstd.h>

#include <string>

namespace test_support {
// The bytes a gzip or zstd file holds; "!" when it is not a whole valid stream.
inline std::string gunzip(const std::string& packed) {
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    std::string out;
    char buffer[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    int rc;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END && z.avail_in == 0 ? out : "!";
}

inline std::string unzstd(const std::string& packed) {
    ZSTD_DCtx* context = ZSTD_createDCtx();
    std::string out;
    char buffer[65536];
    ZSTD_inBuffer in{packed.data(), packed.size(), 0};
    size_t rc = 1;
    while (in.pos < in.size) {
        ZSTD_outBuffer o{buffer, sizeof buffer, 0};
        rc = ZSTD_decompressStream(context, &o, &in);
        if (ZSTD_isError(rc)) break;
        out.append(buffer, o.pos);
    }
    ZSTD_freeDCtx(context);
    return rc == 0 ? out : "!";
}
} // namespace test_support
