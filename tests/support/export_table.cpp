#include "support/export_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace ostrel::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Little-endian field of type T at a byte offset, checked against the file size.
template <typename T>
T Field(const Bytes &bytes, uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        throw std::runtime_error("truncated file: field at " + std::to_string(offset));
    }
    T value = 0;
    for (size_t byte = 0; byte < sizeof(T); ++byte) {
        value |= static_cast<T>(static_cast<T>(bytes[offset + byte]) << (8 * byte));
    }
    return value;
}

std::string CString(const Bytes &bytes, uint64_t offset) {
    if (offset >= bytes.size()) throw std::runtime_error("string outside the file");
    const auto start = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
    return std::string(start, std::find(start, bytes.end(), uint8_t{0}));
}

// ELF64: the .dynsym section and its string table.
std::set<std::string> ElfExports(const Bytes &bytes) {
    constexpr uint8_t kClass64 = 2, kLittleEndian = 1;
    constexpr uint32_t kDynamicSymbols = 11;  // SHT_DYNSYM
    constexpr uint8_t kGlobal = 1, kWeak = 2;
    constexpr uint8_t kDefaultVisibility = 0, kProtectedVisibility = 3;
    if (bytes.size() < 64 || bytes[4] != kClass64 || bytes[5] != kLittleEndian) {
        throw std::runtime_error("not a 64-bit little-endian ELF object");
    }
    const auto sectionTable = Field<uint64_t>(bytes, 0x28);
    const auto sectionSize = Field<uint16_t>(bytes, 0x3A);
    const auto sectionCount = Field<uint16_t>(bytes, 0x3C);
    auto section = [&](uint32_t index) { return sectionTable + uint64_t{index} * sectionSize; };

    std::set<std::string> names;
    for (uint32_t index = 0; index < sectionCount; ++index) {
        if (Field<uint32_t>(bytes, section(index) + 4) != kDynamicSymbols) continue;
        const auto symbols = Field<uint64_t>(bytes, section(index) + 24);
        const auto symbolsSize = Field<uint64_t>(bytes, section(index) + 32);
        const auto stringSection = Field<uint32_t>(bytes, section(index) + 40);
        const auto strings = Field<uint64_t>(bytes, section(stringSection) + 24);
        const auto entrySize = Field<uint64_t>(bytes, section(index) + 56);
        if (entrySize == 0) throw std::runtime_error("dynamic symbol table without entry size");
        for (uint64_t entry = symbols; entry + entrySize <= symbols + symbolsSize;
             entry += entrySize) {
            const auto nameOffset = Field<uint32_t>(bytes, entry);
            const auto info = Field<uint8_t>(bytes, entry + 4);
            const auto visibility = static_cast<uint8_t>(Field<uint8_t>(bytes, entry + 5) & 3);
            const auto sectionIndex = Field<uint16_t>(bytes, entry + 6);
            const auto binding = static_cast<uint8_t>(info >> 4);
            if (sectionIndex == 0) continue;  // undefined: imported, not exported
            if (binding != kGlobal && binding != kWeak) continue;
            if (visibility != kDefaultVisibility && visibility != kProtectedVisibility) continue;
            names.insert(CString(bytes, strings + nameOffset));
        }
    }
    return names;
}

// PE32 or PE32+: the names of the export directory.
std::set<std::string> PeExports(const Bytes &bytes) {
    const auto peHeader = Field<uint32_t>(bytes, 0x3C);
    if (Field<uint32_t>(bytes, peHeader) != 0x00004550) {  // "PE\0\0"
        throw std::runtime_error("no PE signature");
    }
    const uint64_t coff = peHeader + 4;
    const auto sectionCount = Field<uint16_t>(bytes, coff + 2);
    const auto optionalSize = Field<uint16_t>(bytes, coff + 16);
    const uint64_t optional = coff + 20;
    const auto magic = Field<uint16_t>(bytes, optional);
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    const auto exportRva = Field<uint32_t>(bytes, directories);
    std::set<std::string> names;
    if (exportRva == 0) return names;

    const uint64_t sections = optional + optionalSize;
    auto fileOffset = [&](uint32_t rva) -> uint64_t {
        for (uint32_t index = 0; index < sectionCount; ++index) {
            const uint64_t header = sections + uint64_t{index} * 40;
            const auto virtualSize = Field<uint32_t>(bytes, header + 8);
            const auto virtualAddress = Field<uint32_t>(bytes, header + 12);
            const auto rawSize = Field<uint32_t>(bytes, header + 16);
            const auto rawOffset = Field<uint32_t>(bytes, header + 20);
            const uint32_t span = virtualSize > rawSize ? virtualSize : rawSize;
            if (rva >= virtualAddress && rva - virtualAddress < span) {
                return uint64_t{rawOffset} + (rva - virtualAddress);
            }
        }
        throw std::runtime_error("address outside every section: " + std::to_string(rva));
    };
    const uint64_t exports = fileOffset(exportRva);
    const auto nameCount = Field<uint32_t>(bytes, exports + 24);
    const uint64_t nameTable = fileOffset(Field<uint32_t>(bytes, exports + 32));
    for (uint32_t index = 0; index < nameCount; ++index) {
        const auto nameRva = Field<uint32_t>(bytes, nameTable + 4ull * index);
        names.insert(CString(bytes, fileOffset(nameRva)));
    }
    return names;
}

// The header without comments and preprocessor lines, so that the OSTREL_API definition itself
// is not taken for a declaration.
std::string DeclarationsOf(const std::string &text) {
    const std::string uncommented =
        std::regex_replace(std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), " "),
                           std::regex(R"(//[^\n]*)"), " ");
    std::istringstream lines(uncommented);
    std::string line, kept;
    while (std::getline(lines, line)) {
        const auto first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] == '#') continue;
        kept += line + '\n';
    }
    return kept;
}

}  // namespace

std::set<std::string> ReadExportedNames(const std::string &libraryPath) {
    const Bytes bytes = ReadFile(libraryPath);
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "\x7F" "ELF", 4) == 0) {
        return ElfExports(bytes);
    }
    if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') return PeExports(bytes);
    throw std::runtime_error(libraryPath + " is neither an ELF object nor a PE image");
}

std::set<std::string> ReadHeaderExports(const std::string &headerPath) {
    const Bytes bytes = ReadFile(headerPath);
    const std::string declarations = DeclarationsOf(std::string(bytes.begin(), bytes.end()));
    // OSTREL_API <return type> <name>(
    const std::regex declaration(R"(\bOSTREL_API\b[^;(]*?\b([A-Za-z_]\w*)\s*\()");
    std::set<std::string> names;
    for (auto match = std::sregex_iterator(declarations.begin(), declarations.end(), declaration);
         match != std::sregex_iterator(); ++match) {
        names.insert((*match)[1].str());
    }
    return names;
}

std::set<std::string> ReadHeaderExportsWithoutNoexcept(const std::string &headerPath) {
    const Bytes bytes = ReadFile(headerPath);
    const std::string declarations = DeclarationsOf(std::string(bytes.begin(), bytes.end()));
    // OSTREL_API <return type> <name>(<arguments>) <specifier> ;
    const std::regex declaration(R"(\bOSTREL_API\b[^;(]*?\b([A-Za-z_]\w*)\s*)"
                                 R"(\([^)]*\)\s*([^;]*);)");
    std::set<std::string> names;
    for (auto match = std::sregex_iterator(declarations.begin(), declarations.end(), declaration);
         match != std::sregex_iterator(); ++match) {
        if ((*match)[2].str().find("OSTREL_NOEXCEPT") == std::string::npos) {
            names.insert((*match)[1].str());
        }
    }
    return names;
}

std::multiset<std::string> ReadDefExports(const std::string &defPath) {
    std::ifstream file(defPath);
    if (!file) throw std::runtime_error("cannot open " + defPath);
    std::multiset<std::string> names;
    bool inExports = false;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == ';') continue;
        if (word == "EXPORTS") {
            inExports = true;
        } else if (word == "LIBRARY" || word == "NAME" || word == "DESCRIPTION") {
            inExports = false;
        } else if (inExports) {
            names.insert(word.substr(0, word.find('@')));  // "name @ordinal" keeps the name
        }
    }
    return names;
}

}  // namespace ostrel::test
