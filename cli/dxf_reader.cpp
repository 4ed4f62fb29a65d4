// The checking pair reader between a DXF file and dxflib.
#include "cli/dxf_reader.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>
#include <streambuf>

namespace pixelmend::dxf {
namespace {

// Object kinds of the BLOCKS and ENTITIES sections handed to dxflib; others are counted as skipped.
const std::set<std::string> kImported = {"LINE",   "LWPOLYLINE", "POLYLINE", "VERTEX", "SEQEND",
                                         "CIRCLE", "ARC",        "ELLIPSE",  "TEXT",   "MTEXT",
                                         "INSERT", "DIMENSION",  "HATCH",    "BLOCK",  "ENDBLK"};
// Sections whose pairs dxflib sees (the others, HEADER, CLASSES, OBJECTS, ... hold nothing drawn).
const std::set<std::string> kFedSections = {"TABLES", "BLOCKS", "ENTITIES"};

enum class ValueKind { Text, Real, Integer };

// The kind of value a group code carries, as the DXF format assigns them.
ValueKind valueKind(int code) {
    const auto in = [code](int low, int high) { return code >= low && code <= high; };
    if (in(10, 59) || in(110, 149) || in(210, 239) || in(460, 469) || in(1010, 1059)) return ValueKind::Real;
    if (in(60, 99) || in(160, 179) || in(270, 299) || in(370, 389) || in(400, 409) || in(420, 429) || in(440, 459) ||
        in(1060, 1071))
        return ValueKind::Integer;
    return ValueKind::Text;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A finite number written in full; nullopt when text is not one.
std::optional<double> realValue(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The longest prefix of text within limit bytes that does not cut a UTF-8 sequence.
std::string utf8Prefix(const std::string& text, std::size_t limit) {
    std::size_t n = std::min(limit, text.size());
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

// Reads the file's pairs, checks them and formats those dxflib is to see.
class PairSource {
public:
    PairSource(std::istream& in, ReaderState* state) : in_(in), st_(*state) {}

    // The next pair for dxflib as two lines, into *out; false at the end or at a problem.
    bool next(std::string* out) {
        while (st_.error.empty() && !st_.sawEof) {
            int code = 0;
            std::string value;
            if (!readPair(&code, &value)) return false;
            if (!check(code, value)) return false;
            if (feeds(code, value)) {
                if (value.size() > kMaxFedValueBytes) {
                    value = utf8Prefix(value, kMaxFedValueBytes);
                    ++st_.shortenedValues;
                }
                *out = std::to_string(code) + "\n" + value + "\n";
                return true;
            }
        }
        return false;
    }

private:
    std::istream& in_;
    ReaderState& st_;
    bool expectSectionName_ = false;
    bool withholding_ = false;      // the current object is not handed on
    bool polylineCounted_ = false;  // the current LWPOLYLINE gave its vertex count
    bool polylineVertex_ = false;   // ... and a vertex
    bool hatchSeeds_ = false;       // the current HATCH's seed points are being read
    bool hatchPattern_ = false;     // ... its pattern lines
    long objectLine_ = 0;           // first line and kind of the object dxflib reads now
    std::string objectKind_;
    HatchExtras objectHatch_;

    bool fail(long line, const std::string& what) {
        if (st_.error.empty()) st_.error = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    // Reads one line into *text without its line end; false at the end of the file or when it is too long.
    bool readLine(std::string* text) {
        text->clear();
        std::streambuf* buf = in_.rdbuf();
        int c = buf->sbumpc();
        if (c == std::char_traits<char>::eof()) return false;
        ++st_.line;
        while (c != std::char_traits<char>::eof() && c != '\n') {
            if (text->size() >= kMaxLineBytes)
                return fail(st_.line, "line longer than " + std::to_string(kMaxLineBytes) + " bytes");
            if (c != 0) text->push_back(static_cast<char>(c));
            c = buf->sbumpc();
        }
        if (!text->empty() && text->back() == '\r') text->pop_back();
        return true;
    }

    // Reads a group code line and its value line; false at the end (a problem when mid-pair).
    bool readPair(int* code, std::string* value) {
        std::string codeText;
        if (!readLine(&codeText)) return false;
        if (st_.line == 1 && codeText.rfind("AutoCAD Binary DXF", 0) == 0)
            return fail(1, "a binary DXF file; save the drawing as ASCII DXF");
        const std::string t = trimmed(codeText);
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *code);
        if (t.empty() || ec != std::errc() || end != t.data() + t.size() || *code < 0 || *code > 1071)
            return fail(st_.line, "group code \"" + utf8Prefix(t, 40) + "\" is not a number from 0 to 1071");
        if (!st_.error.empty()) return false;
        if (!readLine(value)) {
            if (st_.error.empty())
                fail(st_.line, "group code " + std::to_string(*code) +
                                   " has no value: the file ends in the middle of a pair (truncated?)");
            return false;
        }
        return true;
    }

    // Checks the value's kind and the file's section structure; false (with the problem) when wrong.
    bool check(int code, std::string& value) {
        const ValueKind kind = valueKind(code);
        if (kind != ValueKind::Text) {
            const std::string t = trimmed(value);
            const auto number = realValue(t);
            if (!number)
                return fail(st_.line,
                            "group " + std::to_string(code) + " needs a number, found \"" + utf8Prefix(t, 40) + "\"");
            if (kind == ValueKind::Integer &&
                (*number != std::floor(*number) ||
                 std::fabs(*number) > (code >= 160 && code <= 169 ? 9.0e18 : 2147483647.0)))
                return fail(st_.line, "group " + std::to_string(code) + " needs a whole number, found \"" + t + "\"");
            value = t;
        }
        if (expectSectionName_) {
            expectSectionName_ = false;
            if (code != 2) return fail(st_.line, "SECTION without its name (group 2)");
            st_.section = trimmed(value);
            if (st_.section == "ENTITIES") st_.sawEntities = true;
            return true;
        }
        if (code != 0) return true;
        const std::string word = trimmed(value);
        if (word == "SECTION") {
            if (!st_.section.empty())
                return fail(st_.line, "SECTION inside the " + st_.section + " section (ENDSEC missing)");
            expectSectionName_ = true;
        } else if (word == "ENDSEC") {
            if (st_.section.empty()) return fail(st_.line, "ENDSEC outside any section");
        } else if (word == "EOF") {
            if (!st_.section.empty()) return fail(st_.line, "EOF inside the " + st_.section + " section");
        } else if (st_.section.empty()) {
            return fail(st_.line, "\"" + utf8Prefix(word, 40) + "\" outside any section");
        }
        return true;
    }

    // Decides whether dxflib sees the pair, keeping the HATCH and LWPOLYLINE facts on the way.
    bool feeds(int code, const std::string& value) {
        if (code == 0) return startObject(trimmed(value));
        if (!kFedSections.count(st_.section) || withholding_) return false;
        if (objectKind_ == "LWPOLYLINE") return polylineGroup(code, value);
        if (objectKind_ == "HATCH") return hatchGroup(code, value);
        return true;
    }

    // At a group 0: the object dxflib reads now is finished by it; the new one begins.
    bool startObject(const std::string& word) {
        if (word == "SECTION" || word == "ENDSEC" || word == "EOF") {
            if (word == "ENDSEC") st_.section.clear();
            if (word == "EOF") st_.sawEof = true;
            withholding_ = false;
            publish("", 0);
            return true;
        }
        const bool entitySection = st_.section == "BLOCKS" || st_.section == "ENTITIES";
        if (!kFedSections.count(st_.section)) {
            withholding_ = true;
            return false;
        }
        if (entitySection && !kImported.count(word)) {
            ++st_.skipped[word];
            withholding_ = true;
            return false;
        }
        withholding_ = false;
        publish(word, st_.line - 1);
        return true;
    }

    // Hands the facts of the object read so far to the state (dxflib finishes it at this group 0)
    // and starts collecting those of the next.
    void publish(const std::string& kind, long line) {
        st_.entityLine = objectLine_;
        st_.entityKind = objectKind_;
        st_.hatch = objectHatch_;
        st_.polylineCounted = polylineCounted_;
        objectLine_ = line;
        objectKind_ = kind;
        objectHatch_ = HatchExtras{};
        polylineCounted_ = polylineVertex_ = hatchSeeds_ = hatchPattern_ = false;
    }

    // LWPOLYLINE: the vertex count comes first and is bounded (dxflib sets memory aside for it).
    bool polylineGroup(int code, const std::string& value) {
        if (code == 90) {
            const double n = std::strtod(value.c_str(), nullptr);
            if (n < 1 || n > double(kMaxPolylineVertices))
                return fail(st_.line, "LWPOLYLINE vertex count " + value + " is not within 1 and " +
                                          std::to_string(kMaxPolylineVertices));
            polylineCounted_ = true;
        } else if (code == 10) {
            if (!polylineCounted_) return fail(st_.line, "LWPOLYLINE vertex before its vertex count (group 90)");
            polylineVertex_ = true;
        } else if (code == 42 && !polylineVertex_) {
            return fail(st_.line, "LWPOLYLINE bulge (group 42) before its first vertex");
        }
        return true;
    }

    // HATCH: pattern lines and seed points are kept here, out of dxflib's reach (it would take a
    // seed point after a polyline loop for one more vertex).
    bool hatchGroup(int code, const std::string& value) {
        if (code == 92) objectHatch_.hasBoundary = true;
        if (code == 78) hatchPattern_ = true;
        if (code == 98) hatchSeeds_ = true, hatchPattern_ = false;
        if (hatchPattern_) {
            const double v = std::strtod(value.c_str(), nullptr);
            if (code == 53 && !objectHatch_.lineAngle) objectHatch_.lineAngle = v;
            if (code == 45 && !objectHatch_.lineOffsetX) objectHatch_.lineOffsetX = v;
            if (code == 46 && !objectHatch_.lineOffsetY) objectHatch_.lineOffsetY = v;
        }
        return !(hatchSeeds_ && (code == 10 || code == 20 || code == 30));
    }
};

// The stream buffer dxflib reads: one pair at a time, so that a pair is asked for only after
// dxflib has dealt with the one before (the state then describes what dxflib is finishing).
class PairBuffer : public std::streambuf {
public:
    PairBuffer(std::istream& in, ReaderState* state) : source_(in, state) {}

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        if (!source_.next(&pair_)) return traits_type::eof();
        setg(pair_.data(), pair_.data(), pair_.data() + pair_.size());
        return traits_type::to_int_type(*gptr());
    }

private:
    PairSource source_;
    std::string pair_;
};

// An istream owning its PairBuffer.
class PairStream : public std::istream {
public:
    PairStream(std::istream& in, ReaderState* state) : std::istream(nullptr), buffer_(in, state) { rdbuf(&buffer_); }

private:
    PairBuffer buffer_;
};

}  // namespace

std::unique_ptr<std::istream> openPairStream(std::istream& in, ReaderState* state) {
    return std::make_unique<PairStream>(in, state);
}

std::string finalProblem(const ReaderState& st) {
    if (!st.error.empty()) return st.error;
    if (!st.sawEof) {
        if (!st.section.empty())
            return "line " + std::to_string(st.line) + ": the file ends inside the " + st.section +
                   " section without ENDSEC and EOF (truncated?)";
        return "line " + std::to_string(st.line) + ": the file ends without the EOF marker (truncated?)";
    }
    if (!st.sawEntities) return "no ENTITIES section";
    return {};
}

}  // namespace pixelmend::dxf
