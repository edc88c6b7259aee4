#include "gif.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace skin {
namespace {

class Bits {
public:
    explicit Bits(std::vector<uint8_t>& out) : out_(out) {}
    void Put(unsigned code, int size) {
        acc_ |= static_cast<uint32_t>(code) << used_;
        used_ += size;
        while (used_ >= 8) {
            Byte(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            used_ -= 8;
        }
    }
    void Finish() {
        if (used_ > 0) Byte(static_cast<uint8_t>(acc_));
        Flush();
        out_.push_back(0);  // block terminator
    }

private:
    void Byte(uint8_t b) {
        block_.push_back(b);
        if (block_.size() == 255) Flush();
    }
    void Flush() {
        if (block_.empty()) return;
        out_.push_back(static_cast<uint8_t>(block_.size()));
        out_.insert(out_.end(), block_.begin(), block_.end());
        block_.clear();
    }
    std::vector<uint8_t>& out_;
    std::vector<uint8_t> block_;
    uint32_t acc_ = 0;
    int used_ = 0;
};

// LZW with 8-bit roots: clear 256, end 257, codes up to 12 bits.
void Lzw(const std::vector<uint8_t>& indices, std::vector<uint8_t>& out) {
    const unsigned clear = 256, end = 257;
    out.push_back(8);
    Bits bits(out);
    std::unordered_map<uint32_t, unsigned> dict;
    int size = 9;
    unsigned next = 258;
    bits.Put(clear, size);
    if (indices.empty()) {
        bits.Put(end, size);
        bits.Finish();
        return;
    }
    unsigned prefix = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        uint32_t key = (prefix << 8) | indices[i];
        auto it = dict.find(key);
        if (it != dict.end()) {
            prefix = it->second;
            continue;
        }
        bits.Put(prefix, size);
        dict[key] = next;
        if (next >= (1u << size) && size < 12) ++size;
        ++next;
        if (next >= 4096) {
            bits.Put(clear, size);
            dict.clear();
            size = 9;
            next = 258;
        }
        prefix = indices[i];
    }
    bits.Put(prefix, size);
    bits.Put(end, size);
    bits.Finish();
}

void Le16(std::vector<uint8_t>& v, int x) {
    v.push_back(static_cast<uint8_t>(x & 0xFF));
    v.push_back(static_cast<uint8_t>((x >> 8) & 0xFF));
}

}  // namespace

bool WriteGif(const std::string& path, const std::vector<Picture>& frames, int delay) {
    if (frames.empty()) return false;
    const int w = frames[0].w(), h = frames[0].h();
    std::unordered_map<uint32_t, size_t> counts;
    for (const Picture& f : frames) {
        if (f.w() != w || f.h() != h) return false;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) counts[f.surface->row(y)[x] & 0xFFFFFF]++;
    }
    std::vector<std::pair<size_t, uint32_t>> byUse;
    for (auto& [px, n] : counts) byUse.push_back({n, px});
    std::sort(byUse.begin(), byUse.end(), [](auto& a, auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
    std::vector<Colour> palette;
    for (size_t i = 0; i < byUse.size() && i < 255; ++i) palette.push_back(Hex(byUse[i].second));
    const uint8_t transparent = 255;
    std::unordered_map<uint32_t, uint8_t> nearest;
    auto index = [&](uint32_t px) {
        auto it = nearest.find(px);
        if (it != nearest.end()) return it->second;
        int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
        long best = -1;
        uint8_t bi = 0;
        for (size_t i = 0; i < palette.size(); ++i) {
            long dr = r - palette[i].r, dg = g - palette[i].g, db = b - palette[i].b;
            long d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
            if (best < 0 || d < best) {
                best = d;
                bi = static_cast<uint8_t>(i);
            }
        }
        nearest[px] = bi;
        return bi;
    };

    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    Le16(out, w);
    Le16(out, h);
    out.insert(out.end(), {0xF7, 0, 0});
    // The transparent entry gets a colour that no drawn pixel has, so that a player which
    // masks by colour rather than by index shows the frames whole.
    Colour key{255, 0, 255};
    for (uint32_t k = 0;; ++k) {
        bool used = std::any_of(palette.begin(), palette.end(), [&](const Colour& c) { return c.px() == key.px(); });
        if (!used && !counts.count(key.px())) break;
        key = Colour{255, static_cast<int>(k & 0xFF), 255 - static_cast<int>((k >> 8) & 0xFF)};
    }
    for (int i = 0; i < 256; ++i) {
        Colour c = i < static_cast<int>(palette.size()) ? palette[i] : i == transparent ? key : Colour{255, 255, 255};
        out.insert(out.end(), {static_cast<uint8_t>(c.r), static_cast<uint8_t>(c.g), static_cast<uint8_t>(c.b)});
    }
    const char loop[] = "NETSCAPE2.0";
    out.insert(out.end(), {0x21, 0xFF, 11});
    out.insert(out.end(), loop, loop + 11);
    out.insert(out.end(), {3, 1, 0, 0, 0});

    std::vector<uint8_t> prev;
    for (size_t f = 0; f < frames.size(); ++f) {
        std::vector<uint8_t> cur(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) cur[static_cast<size_t>(y) * w + x] = index(frames[f].surface->row(y)[x]);
        int l = 0, t = 0, r = w, b = h;
        if (f > 0) {
            l = w, t = h, r = 0, b = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (cur[static_cast<size_t>(y) * w + x] != prev[static_cast<size_t>(y) * w + x]) {
                        l = std::min(l, x), t = std::min(t, y), r = std::max(r, x + 1), b = std::max(b, y + 1);
                    }
            if (r <= l) l = 0, t = 0, r = 1, b = 1;
        }
        std::vector<uint8_t> part;
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x) {
                size_t i = static_cast<size_t>(y) * w + x;
                part.push_back(f > 0 && cur[i] == prev[i] ? transparent : cur[i]);
            }
        // Graphic control: leave the frame in place (disposal 1), transparency after the first.
        out.insert(out.end(), {0x21, 0xF9, 4, static_cast<uint8_t>((1 << 2) | (f > 0 ? 1 : 0))});
        Le16(out, delay);
        out.insert(out.end(), {f > 0 ? transparent : static_cast<uint8_t>(0), 0});
        out.push_back(0x2C);
        Le16(out, l);
        Le16(out, t);
        Le16(out, r - l);
        Le16(out, b - t);
        out.push_back(0);
        Lzw(part, out);
        prev = std::move(cur);
    }
    out.push_back(0x3B);

    const std::string tmp = path + ".part";
    FILE* file = std::fopen(tmp.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    ok = std::fclose(file) == 0 && ok;
    return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace skin
