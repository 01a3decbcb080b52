// Reads the names a shared library exports straight from the file: the dynamic symbol table of an
// ELF object, or the export directory of a PE image (a Windows DLL). No outside tool is needed, so
// the same test runs on Linux and under Windows.
#pragma once

#include <set>
#include <string>

namespace ostrel::test {

// The defined, visible names the library exports. Throws std::runtime_error naming the problem
// when the file cannot be read or is neither a 64-bit little-endian ELF object nor a PE image.
std::set<std::string> ReadExportedNames(const std::string &libraryPath);

// The names declared with OSTREL_API in a C header.
std::set<std::string> ReadHeaderExports(const std::string &headerPath);

// The names declared with OSTREL_API whose declaration does not end in OSTREL_NOEXCEPT.
std::set<std::string> ReadHeaderExportsWithoutNoexcept(const std::string &headerPath);

// The names listed under EXPORTS in a module-definition (.def) file, in file order, duplicates kept.
std::multiset<std::string> ReadDefExports(const std::string &defPath);

}  // namespace ostrel::test
