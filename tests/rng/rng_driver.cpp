// Test driver for the generator and the draws built on it: reads one command
// per line on stdin and answers one line per command on stdout.
//   block ROUNDS K0..K7 COUNTER STREAM  -> the 16 words of one ChaCha block
//   key SEED                            -> the 8 key words of a seed
//   ops SEED OP...                      -> one output per OP, then the state
//        OP: u32 u64 f64 bool range:N bytes:N
//   int SEED MIN MAX COUNT              -> COUNT integer draws, then the state
//   intz SEED MIN MAX COUNT             -> the same through the mpz overload
//   size SEED MIN MAX COUNT             -> COUNT collection sizes, then the state
//   fresh COUNT                         -> COUNT fresh seeds
//   double N...                         -> each integer N converted to a double
// MIN and MAX are decimal integers or "none". The state is "state:C:I", the
// block counter and buffer index after the last draw. Doubles are written in
// hexadecimal (%a), so they read back exactly.
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "rng/rng.hpp"
#include "provider.hpp"

namespace {

std::string state(const rng::Rng& rng) {
    return "state:" + std::to_string(rng.block_counter()) + ":" + std::to_string(rng.buffer_index());
}

std::string f64(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", v);
    return buf;
}

std::optional<mpz_class> bound(const std::string& s) {
    if (s == "none") return std::nullopt;
    return mpz_class(s, 10);
}

std::string show(const provider::Integer& v) {
    switch (v.kind) {
    case provider::Integer::Kind::small: return std::to_string(v.small);
    case provider::Integer::Kind::wide: return "w" + v.to_mpz().get_str();
    case provider::Integer::Kind::big: return "b" + v.big.get_str();
    }
    return "?";
}

std::string run(std::istringstream& in) {
    std::string cmd;
    in >> cmd;
    std::ostringstream out;
    if (cmd == "block") {
        int rounds;
        rng::ChaChaKey key;
        uint64_t counter, stream;
        in >> rounds;
        for (auto& k : key) in >> k;
        in >> counter >> stream;
        uint32_t words[16];
        rng::chacha_block(key, counter, stream, rounds, words);
        for (uint32_t w : words) out << w << ' ';
    } else if (cmd == "key") {
        uint64_t seed;
        in >> seed;
        for (uint32_t w : rng::expand_seed(seed)) out << w << ' ';
    } else if (cmd == "ops") {
        uint64_t seed;
        in >> seed;
        rng::Rng rng(seed);
        std::string op;
        while (in >> op) {
            if (op == "u32") out << rng.next_u32();
            else if (op == "u64") out << rng.next_u64();
            else if (op == "f64") out << f64(rng.next_f64());
            else if (op == "bool") out << (rng.next_bool() ? 1 : 0);
            else if (op.rfind("range:", 0) == 0) out << rng.gen_range(std::stoull(op.substr(6)));
            else if (op.rfind("bytes:", 0) == 0) {
                std::vector<uint8_t> buf(std::stoull(op.substr(6)));
                rng.fill_bytes(buf.data(), buf.size());
                char hex[3];
                out << 'x';
                for (uint8_t b : buf) {
                    std::snprintf(hex, sizeof hex, "%02x", b);
                    out << hex;
                }
            } else return "error: unknown op " + op;
            out << ' ';
        }
        out << state(rng);
    } else if (cmd == "int" || cmd == "intz" || cmd == "size") {
        uint64_t seed;
        std::string lo, hi;
        int count;
        in >> seed >> lo >> hi >> count;
        rng::Rng rng(seed);
        if (cmd == "size") {
            const uint64_t a = std::stoull(lo), b = std::stoull(hi);
            for (int i = 0; i < count; ++i) out << provider::draw_collection_size(rng, a, b) << ' ';
        } else if (cmd == "intz") {
            const auto a = bound(lo), b = bound(hi);
            for (int i = 0; i < count; ++i)
                out << provider::draw_integer_from_distribution(rng, a, b).get_str() << ' ';
        } else {
            std::optional<provider::Integer> a, b;
            if (auto v = bound(lo)) a = provider::Integer::of(*v);
            if (auto v = bound(hi)) b = provider::Integer::of(*v);
            provider::Integer x;
            for (int i = 0; i < count; ++i) {
                provider::draw_integer_from_distribution(rng, a ? &*a : nullptr, b ? &*b : nullptr, x);
                out << show(x) << ' ';
            }
        }
        out << state(rng);
    } else if (cmd == "double") {
        std::string v;
        while (in >> v) out << f64(provider::Integer::of(mpz_class(v, 10)).to_double()) << ' ';
    } else if (cmd == "fresh") {
        int count;
        in >> count;
        for (int i = 0; i < count; ++i) out << rng::fresh_seed() << ' ';
    } else {
        return "error: unknown command " + cmd;
    }
    return out.str();
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::cout << run(in) << '\n';
    }
    return 0;
}
