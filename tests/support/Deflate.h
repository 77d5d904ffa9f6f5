// Compressed bodies for the tests of HTTP peers that must take them (programs linking zlib).
#pragma once

#include <zlib.h>

#include <string>

namespace velqor::test {

// data compressed at the highest level: windowBits 15 gives the zlib format ("deflate"), 31 gzip.
inline std::string Deflated(const std::string& data, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace velqor::test
