// Helpers shared by the packing suites: Windows-1251 sample texts, raw zlib
// packing for reference streams, and an independent zlib through python3.
#pragma once

#include <iconv.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "base/errors.h"

namespace tallo::testing {

// Number of entries in a folder.
inline std::size_t FilesIn(const std::string& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// The message of the failure f raises, or "(no failure)".
template <typename F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const tallo::Failure& e) {
        return e.what();
    }
    return "(no failure)";
}

// UTF-8 text converted to Windows-1251 by glibc, independent of the tool's
// own tables.
inline std::string Cp1251(const std::string& utf8) {
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv_open");
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    char* o = out.data();
    std::size_t out_left = out.size();
    std::size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw std::runtime_error("iconv");
    out.resize(out.size() - out_left);
    return out;
}

// A Windows-1251 SQL script of at least size bytes, CR LF line ends.
inline std::string SqlText(std::size_t size, std::uint32_t seed = 1) {
    static const std::string names[] = {Cp1251("Иванов"), Cp1251("Петрова"), Cp1251("Сидоренко"),
                                        Cp1251("Ёлкин"), Cp1251("Щукина")};
    static const std::string city = Cp1251("г. Новосибирск, ул. Ленина");
    std::mt19937 rng(seed);
    std::string text = "SET NAMES WIN1251;\r\n";
    while (text.size() < size) {
        text += "INSERT INTO CLIENTS (ID, NAME, ADDRESS, BALANCE) VALUES (" +
                std::to_string(rng() % 1000000) + ", '" + names[rng() % 5] + "', '" + city + " " +
                std::to_string(rng() % 200) + "', " + std::to_string(rng() % 100000) + "." +
                std::to_string(rng() % 100) + ");\r\n";
    }
    return text;
}

// Bytes that do not compress.
inline std::string RandomBytes(std::size_t size, std::uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out)
        c = static_cast<char>(rng());
    return out;
}

// One zlib stream of the bytes, packed by zlib itself at the given level.
inline std::string ZlibCompress(const std::string& bytes, int level = 9) {
    uLongf size = compressBound(bytes.size());
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                  bytes.size(), level) != Z_OK) {
        throw std::runtime_error("compress2");
    }
    out.resize(size);
    return out;
}

inline std::uint32_t Adler32Of(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

// Runs a python3 one-liner with two file arguments; answers its exit code.
inline int RunPython(const std::string& code, const std::string& a, const std::string& b) {
    std::string cmd = std::string(TALLO_PYTHON) + " -c \"" + code + "\" '" + a + "' '" + b + "'";
    return std::system(cmd.c_str());
}

}  // namespace tallo::testing
