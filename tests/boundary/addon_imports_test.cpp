// The add-on's boundary with its host: pxmend.so imports only what src/host/*.h
// declares and the ISO C and C++ runtime, never a platform (POSIX) call of its own,
// carries none of the host's code, and is compiled seeing src/ alone.
#include <elf.h>
#include <gtest/gtest.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// ISO C library functions (and the C math library) the add-on may import.
const std::set<std::string> k_isoC = {
    // <stdlib.h>, <string.h>, <stdio.h>
    "malloc", "calloc", "realloc", "free", "aligned_alloc", "abort", "exit", "atexit", "getenv", "qsort", "bsearch",
    "abs", "labs", "llabs", "div", "ldiv", "strtol", "strtoul", "strtoll", "strtoull", "strtod", "strtof", "strtold",
    "atoi", "atol", "atof", "rand", "srand", "memcpy", "memmove", "memset", "memcmp", "memchr", "strlen", "strcmp",
    "strncmp", "strcpy", "strncpy", "strcat", "strncat", "strchr", "strrchr", "strstr", "strspn", "strcspn", "strpbrk",
    "strtok", "strerror", "strcoll", "strxfrm", "snprintf", "sprintf", "vsnprintf", "vsprintf", "printf", "fprintf",
    "vfprintf", "sscanf", "fopen", "fclose", "fread", "fwrite", "fflush", "fgets", "fputs", "fputc", "putc", "puts",
    "fseek", "ftell", "rewind", "ferror", "feof", "remove", "rename", "tmpfile", "setvbuf",
    // <ctype.h>, <wchar.h>, <wctype.h>, <time.h>, <locale.h>, <setjmp.h>, <signal.h>
    "isalpha", "isdigit", "isalnum", "isspace", "isupper", "islower", "isprint", "ispunct", "isxdigit", "iscntrl",
    "isgraph", "tolower", "toupper", "wcslen", "wcscmp", "wcsncmp", "wcscpy", "wcsncpy", "wcschr", "wcsrchr", "wcstol",
    "wcstod", "wmemcpy", "wmemmove", "wmemset", "wmemcmp", "wmemchr", "swprintf", "mbstowcs", "wcstombs", "mbrtowc",
    "wcrtomb", "btowc", "wctob", "towlower", "towupper", "iswspace", "time", "clock", "difftime", "mktime", "localtime",
    "gmtime", "strftime", "timespec_get", "setlocale", "localeconv", "longjmp", "raise", "signal",
    // <math.h>, and sincos, which the compiler makes of a sin and a cos of one angle
    "sin", "cos", "tan", "asin", "acos", "atan", "atan2", "sinh", "cosh", "tanh", "exp", "exp2", "log", "log10", "log2",
    "pow", "sqrt", "cbrt", "hypot", "fabs", "floor", "ceil", "round", "lround", "llround", "trunc", "fmod", "remainder",
    "fmin", "fmax", "frexp", "ldexp", "modf", "nearbyint", "rint", "lrint", "sinf", "cosf", "tanf", "atan2f", "sqrtf",
    "powf", "expf", "logf", "floorf", "ceilf", "roundf", "fmodf", "fminf", "fmaxf", "hypotf", "sincos", "sincosf"};

// Names the C and C++ runtimes and the compiler call under the ISO functions and language features:
// errno, assert, the checked (fortified) and ISO-scanf variants, the exception and unwinding ABI,
// compiler helper routines, start-up hooks and the sanitizers' instrumentation.
const char* const k_runtimePrefixes[] = {"__cxa_",
                                         "_Unwind_",
                                         "__gxx_personality_",
                                         "_ITM_",
                                         "__gmon_start__",
                                         "__errno_location",
                                         "__assert_fail",
                                         "__stack_chk_fail",
                                         "__isoc99_",
                                         "__isoc23_",
                                         "__ctype_",
                                         "__popcount",
                                         "__clz",
                                         "__ctz",
                                         "__mul",
                                         "__div",
                                         "__udiv",
                                         "__mod",
                                         "__umod",
                                         "__tls_get_addr",
                                         "__dynamic_cast",
                                         "__libc_single_threaded",
                                         "__asan_",
                                         "__ubsan_",
                                         "__sanitizer_",
                                         "__lsan_",
                                         "__sancov_"};

// Fortified forms of ISO functions (-D_FORTIFY_SOURCE): "__memcpy_chk" is memcpy.
bool b_fortifiedIso(const std::string& name) {
    const std::string suffix = "_chk";
    if (name.size() < 2 + suffix.size() || name.rfind("__", 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string plain = name.substr(2, name.size() - 2 - suffix.size());  // "vsnprintf" stays
    return k_isoC.count(plain) > 0;
}

// The readable form of a C++ symbol name; a C name unchanged.
std::string s_demangled(const std::string& name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && text ? std::string(text.get()) : name;
}

// True for a C++ symbol of the standard library or the C++ ABI (std::..., operator new/delete, type
// information and tables of std or ABI classes).
bool b_cppRuntime(const std::string& demangled) {
    for (const char* head : {"std::", "operator new", "operator delete", "__gnu_cxx::", "__cxxabiv1::"})
        if (demangled.rfind(head, 0) == 0) return true;
    for (const char* head : {"typeinfo for ", "typeinfo name for ", "vtable for ", "VTT for ", "guard variable for "}) {
        const std::size_t n = std::strlen(head);
        if (demangled.rfind(head, 0) == 0) return b_cppRuntime(demangled.substr(n));
    }
    return false;
}

// The unqualified function or variable name of a demangled C++ symbol: "A::B::f(int)" gives "f".
std::string s_plainName(const std::string& demangled) {
    std::size_t end = demangled.size();
    int depth = 0;
    for (std::size_t i = 0; i < demangled.size(); ++i) {
        const char c = demangled[i];
        if (c == '<') ++depth;
        if (c == '>') --depth;
        if (c == '(' && depth == 0) {
            end = i;
            break;
        }
    }
    const std::string qualified = demangled.substr(0, end);
    const std::size_t colon = qualified.rfind("::");
    return colon == std::string::npos ? qualified : qualified.substr(colon + 2);
}

// ---- The dynamic symbol table ----

struct DynamicSymbols {
    std::vector<std::string> imported;  // undefined: bound at load to another object's definition
    std::vector<std::string> defined;   // defined in the object itself
    std::vector<std::string> needed;    // the shared libraries it names (DT_NEEDED)
};

// The bytes of a file.
std::string s_fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A T read at offset of bytes; fails the test (and gives a zero T) when it lies outside.
template <typename T>
T t_at(const std::string& bytes, std::uint64_t offset) {
    T value{};
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        ADD_FAILURE() << "ELF structure at " << offset << " lies outside the file";
        return value;
    }
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// The NUL-terminated text at offset in the string table section strtab.
std::string s_tableText(const std::string& bytes, const Elf64_Shdr& strtab, std::uint64_t offset) {
    if (offset >= strtab.sh_size || strtab.sh_offset + strtab.sh_size > bytes.size()) return {};
    const char* start = bytes.data() + strtab.sh_offset + offset;
    return std::string(start, strnlen(start, strtab.sh_size - offset));
}

// Reads the dynamic symbol table and the needed libraries of a 64-bit little-endian ELF object.
DynamicSymbols dynamicSymbols(const fs::path& path) {
    DynamicSymbols found;
    const std::string bytes = s_fileBytes(path);
    const auto header = t_at<Elf64_Ehdr>(bytes, 0);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << path << " is not a 64-bit ELF object";
        return found;
    }
    std::vector<Elf64_Shdr> sections;
    for (unsigned i = 0; i < header.e_shnum; ++i)
        sections.push_back(t_at<Elf64_Shdr>(bytes, header.e_shoff + std::uint64_t(i) * header.e_shentsize));
    for (const Elf64_Shdr& section : sections) {
        if ((section.sh_type != SHT_DYNSYM && section.sh_type != SHT_DYNAMIC) || section.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strtab = sections[section.sh_link];
        const std::uint64_t entry = section.sh_entsize ? section.sh_entsize : 1;
        for (std::uint64_t at = 0; at + entry <= section.sh_size; at += entry) {
            if (section.sh_type == SHT_DYNAMIC) {
                const auto dyn = t_at<Elf64_Dyn>(bytes, section.sh_offset + at);
                if (dyn.d_tag == DT_NEEDED) found.needed.push_back(s_tableText(bytes, strtab, dyn.d_un.d_val));
                continue;
            }
            const auto symbol = t_at<Elf64_Sym>(bytes, section.sh_offset + at);
            const std::string name = s_tableText(bytes, strtab, symbol.st_name);
            if (name.empty()) continue;
            (symbol.st_shndx == SHN_UNDEF ? found.imported : found.defined).push_back(name);
        }
    }
    return found;
}

// ---- What the host headers declare ----

// The text of a header without its comments.
std::string s_codeOf(const fs::path& header) {
    static const std::regex comments(R"(//[^\n]*|/\*[\s\S]*?\*/)");
    return std::regex_replace(s_fileBytes(header), comments, " ");
}

// Every name declared as a function (a name before an opening parenthesis) in the given headers.
std::set<std::string> declaredNames(const std::vector<fs::path>& headers) {
    static const std::regex call(R"(([A-Za-z_][A-Za-z0-9_]*)\s*\()");
    std::set<std::string> names;
    for (const fs::path& header : headers) {
        const std::string code = s_codeOf(header);
        for (auto it = std::sregex_iterator(code.begin(), code.end(), call); it != std::sregex_iterator(); ++it)
            names.insert((*it)[1]);
    }
    return names;
}

// The headers of src/host/.
std::vector<fs::path> hostHeaders() {
    std::vector<fs::path> headers;
    for (const auto& entry : fs::directory_iterator(fs::path(PXMEND_SOURCE_DIR) / "src" / "host"))
        if (entry.path().extension() == ".h") headers.push_back(entry.path());
    std::sort(headers.begin(), headers.end());
    return headers;
}

// Headers of src/host/ whose functions the add-on implements itself rather than the host.
bool b_addonSideHeader(const fs::path& header) {
    const std::string name = header.filename().string();
    return name == "hostwrap.h" || name == "utf8text.h";
}

// Why an imported symbol is allowed ("" when it is not): declared by the host headers, the ISO C
// and C++ runtime.
std::string s_importReason(const std::string& name, const std::set<std::string>& declared) {
    const std::string demangled = s_demangled(name);
    if (demangled != name) {
        if (b_cppRuntime(demangled)) return "C++ runtime";
        // A destructor belongs to its class: "~ElementHandle" is the host's when "ElementHandle(" is declared.
        std::string plain = s_plainName(demangled);
        if (!plain.empty() && plain[0] == '~') plain.erase(0, 1);
        return declared.count(plain) ? "host" : "";
    }
    if (declared.count(name)) return "host";
    if (k_isoC.count(name) || b_fortifiedIso(name)) return "ISO C";
    for (const char* prefix : k_runtimePrefixes)
        if (name.rfind(prefix, 0) == 0) return "runtime";
    return "";
}

fs::path modulePath() { return fs::path(PXMEND_BIN_DIR) / "pxmend.so"; }

std::string s_joined(const std::vector<std::string>& names) {
    std::ostringstream out;
    for (const std::string& n : names) out << "\n  " << n << "  (" << s_demangled(n) << ")";
    return out.str();
}

TEST(AddonBoundary, ModuleImportsOnlyHostDeclarationsAndTheStandardRuntime) {
    const DynamicSymbols symbols = dynamicSymbols(modulePath());
    ASSERT_FALSE(symbols.imported.empty()) << "no imported symbols read from " << modulePath();
    const std::set<std::string> declared = declaredNames(hostHeaders());
    std::vector<std::string> refused;
    for (const std::string& name : symbols.imported) {
        const std::string reason = s_importReason(name, declared);
        if (reason.empty()) refused.push_back(name);
    }
    EXPECT_TRUE(refused.empty()) << "pxmend.so imports functions that neither src/host/*.h declares nor the ISO C "
                                    "and C++ runtime provides (platform calls go through src/host/):"
                                 << s_joined(refused);
    // The host services the settings file needs are what the add-on imports for it.
    const std::set<std::string> imported(symbols.imported.begin(), symbols.imported.end());
    for (const char* name : {"j_hostFileRead", "j_hostFileReplace", "b_hostLocalTime"})
        EXPECT_TRUE(imported.count(name)) << "pxmend.so does not import " << name;
}

// The classification itself: POSIX calls are refused even though the C library provides them,
// host declarations and the runtime pass.
TEST(AddonBoundary, PlatformCallsAreRefusedHostAndRuntimePass) {
    const std::set<std::string> declared = declaredNames(hostHeaders());
    for (const char* posix :
         {"open", "close", "read", "pread", "pwrite", "fsync", "ftruncate", "fstat", "stat", "access", "umask",
          "mkstemp", "unlink", "flock", "getpid", "localtime_r", "strnlen", "mkdir", "dlopen"})
        EXPECT_EQ(s_importReason(posix, declared), "") << posix;
    EXPECT_EQ(s_importReason("j_hostFileReplace", declared), "host");
    EXPECT_EQ(s_importReason("mdlSystem_getCfgVar", declared), "host");
    EXPECT_EQ(s_importReason("_ZN19DgnRasterCollection10GetRastersEP11DgnModelRef", declared), "host");
    EXPECT_EQ(s_importReason("_Znwm", declared), "C++ runtime");
    EXPECT_EQ(s_importReason("_ZNSt6vectorIiSaIiEE9push_backERKi", declared), "C++ runtime");
    EXPECT_EQ(s_importReason("_ZTVN10__cxxabiv117__class_type_infoE", declared), "C++ runtime");
    EXPECT_EQ(s_importReason("_ZN7subhost9hostResetEv", declared), "");
    for (const char* iso : {"memcpy", "snprintf", "__cxa_throw", "__snprintf_chk", "__errno_location", "sincos"})
        EXPECT_NE(s_importReason(iso, declared), "") << iso;
}

// The host's code stays in the host: the module defines no C function that the host headers
// declare for the host to implement, nothing of the host's own namespace, and does not name the
// host's library (the host's functions are bound to whatever host loaded it).
TEST(AddonBoundary, ModuleCarriesNoneOfTheHostsCode) {
    const DynamicSymbols symbols = dynamicSymbols(modulePath());
    ASSERT_FALSE(symbols.defined.empty());
    std::vector<fs::path> hostSide;
    for (const fs::path& header : hostHeaders())
        if (!b_addonSideHeader(header)) hostSide.push_back(header);
    std::set<std::string> hostImplemented = declaredNames(hostSide);
    for (const char* entry : {"MdlMain", "MdlResources"}) hostImplemented.erase(entry);  // the add-on's own
    std::vector<std::string> embedded;
    for (const std::string& name : symbols.defined) {
        const std::string demangled = s_demangled(name);
        const bool hostNamespace = demangled.find("subhost::") != std::string::npos;
        if (hostNamespace || (demangled == name && hostImplemented.count(name))) embedded.push_back(name);
    }
    EXPECT_TRUE(embedded.empty()) << "pxmend.so defines host functions:" << s_joined(embedded);
    for (const std::string& library : symbols.needed)
        EXPECT_EQ(library.find("subhost"), std::string::npos) << "pxmend.so names the host library " << library;
}

// The add-on is compiled with no include folder but src/ inside the project, so that neither
// "subhost/..." nor a host or support-library header by its bare name can be included from src/.
TEST(AddonBoundary, AddonSeesOnlyItsOwnSources) {
    const fs::path listed = fs::path(PXMEND_BIN_DIR).parent_path() / "src" / "pxmend_include_dirs.txt";
    std::ifstream in(listed);
    ASSERT_TRUE(in) << "cannot read " << listed;
    const fs::path project = fs::weakly_canonical(PXMEND_SOURCE_DIR);
    const fs::path src = project / "src";
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        ++count;
        const fs::path dir = fs::weakly_canonical(line);
        const bool inProject = dir == project || dir.string().rfind(project.string() + "/", 0) == 0;
        if (inProject) {
            EXPECT_EQ(dir, src) << "the add-on is compiled seeing " << dir;
        }
        for (const char* other : {"subhost", "sublibs", "safefile.h", "tovtext.h", "host.h"})
            EXPECT_FALSE(fs::exists(dir / other)) << "the add-on can include " << (dir / other);
    }
    EXPECT_GT(count, 0);
}

}  // namespace
