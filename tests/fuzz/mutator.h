// A deterministic mutator for the bounded fuzz loop: from a fixed seed it turns the
// seed files into the same sequence of hostile cases on every run and machine
// (bit flips, byte inserts and deletes, splices of two seeds, interesting values,
// repeated chunks and, for text inputs, words of the input's own language).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace fuzzloop {

using Bytes = std::vector<std::uint8_t>;

class Mutator {
public:
    // Takes the seeds to mutate (at least one), words to insert (may be empty) and the
    // largest case size.
    Mutator(std::vector<Bytes> seeds, std::vector<std::string> words, std::size_t maxSize,
            std::uint32_t seed = 20261206)
        : seeds_(std::move(seeds)), words_(std::move(words)), maxSize_(maxSize), random_(seed) {}

    // Gives the next case: a seed with one to four mutations.
    Bytes next() {
        Bytes data = seeds_[below(seeds_.size())];
        const std::size_t count = 1 + below(4);
        for (std::size_t i = 0; i < count; ++i) mutate(data);
        if (data.size() > maxSize_) data.resize(maxSize_);
        return data;
    }

private:
    // A number from 0 to n - 1 (0 for n 0), from the generator's raw output so that the
    // sequence does not depend on the standard library's distributions.
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random_() % n); }

    void mutate(Bytes& data) {
        switch (below(words_.empty() ? 7 : 8)) {
        case 0:  // flip one bit
            if (!data.empty()) data[below(data.size())] ^= static_cast<std::uint8_t>(1u << below(8));
            break;
        case 1: {  // insert a few random bytes
            const std::size_t at = below(data.size() + 1), n = 1 + below(8);
            for (std::size_t i = 0; i < n; ++i)
                data.insert(data.begin() + static_cast<long>(at), static_cast<std::uint8_t>(random_()));
            break;
        }
        case 2: {  // delete a run of bytes
            if (data.empty()) break;
            const std::size_t at = below(data.size()), n = 1 + below(std::min<std::size_t>(data.size() - at, 64));
            data.erase(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
            break;
        }
        case 3: {  // splice: this case's head and another seed's tail
            const Bytes& other = seeds_[below(seeds_.size())];
            const std::size_t cut = below(data.size() + 1), from = below(other.size() + 1);
            data.resize(cut);
            data.insert(data.end(), other.begin() + static_cast<long>(from), other.end());
            break;
        }
        case 4: {  // an interesting value over 1, 2 or 4 bytes, either byte order
            static const std::uint32_t values[] = {0,           1,           2,      0x7F,   0x80,    0xFF,
                                                   0x100,       0x7FFF,      0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF,
                                                   0x80000000u, 0xFFFFFFFFu, 16,     64,     1000};
            if (data.empty()) break;
            const std::uint32_t v = values[below(sizeof values / sizeof values[0])];
            const std::size_t width = std::size_t{1} << below(3), at = below(data.size());
            const bool bigEndian = below(2) == 1;
            for (std::size_t i = 0; i < width && at + i < data.size(); ++i)
                data[at + i] = static_cast<std::uint8_t>(v >> (8 * (bigEndian ? width - 1 - i : i)));
            break;
        }
        case 5: {  // repeat a chunk
            if (data.empty()) break;
            const std::size_t at = below(data.size()), n = 1 + below(std::min<std::size_t>(data.size() - at, 256));
            const Bytes chunk(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
            const std::size_t to = below(data.size() + 1);
            data.insert(data.begin() + static_cast<long>(to), chunk.begin(), chunk.end());
            break;
        }
        case 6: {  // overwrite a byte with a random one
            if (!data.empty()) data[below(data.size())] = static_cast<std::uint8_t>(random_());
            break;
        }
        default: {  // a word of the language, at a line or word boundary where there is one nearby
            const std::string& word = words_[below(words_.size())];
            std::size_t at = below(data.size() + 1);
            while (at < data.size() && data[at] != ' ' && data[at] != '\n' && data[at] != ',' && data[at] != ':') ++at;
            data.insert(data.begin() + static_cast<long>(at), word.begin(), word.end());
            break;
        }
        }
    }

    std::vector<Bytes> seeds_;
    std::vector<std::string> words_;
    std::size_t maxSize_;
    std::mt19937 random_;
};

}  // namespace fuzzloop
