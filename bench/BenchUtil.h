// Small helpers shared by the benchmarks: a temporary program folder and a card list file.
#pragma once

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/Convert.h"

namespace bench {

inline std::filesystem::path TempFolder(const char* name) {
    std::string modelo = std::string("/tmp/") + name + "-XXXXXX";
    return mkdtemp(modelo.data());
}

// A card list of n cards, 0000000000000000 .. n-1, as the venue's program would write it.
inline std::string CardList(int n, int variant = 0) {
    std::string xml =
        "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
        "<FIELD attrname=\"NumComanda\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA>";
    for (int i = 0; i < n; ++i) {
        // The variant changes one card, so two variants have the same size but differ.
        const int numero = (i == n / 2) ? i + variant * 7 : i;
        xml += "<ROW NumComanda=\"" + common::IntToStrMin(numero, 16) + "\"/>";
    }
    return xml + "</ROWDATA></DATAPACKET>";
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

template <class F>
double MicrosPer(int iterations, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i) f(i);
    const std::chrono::duration<double, std::micro> d = std::chrono::steady_clock::now() - start;
    return d.count() / iterations;
}

}  // namespace bench
