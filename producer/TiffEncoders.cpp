#include "TiffEncoders.h"

#include <array>
#include <unordered_map>

namespace esproduce::tiffcodec {
namespace {

// Collects codes most significant bit first.
class BitWriter {
 public:
  void Put(std::uint32_t code, unsigned width) {
    for (unsigned i = width; i-- > 0;) PutBit((code >> i) & 1u);
  }
  // A code written as its digits, e.g. "0000110111".
  void Put(const char* digits) {
    for (; *digits; ++digits) PutBit(*digits == '1');
  }
  Bytes Take() {
    if (filled_ != 0) {
      out_.push_back(static_cast<std::uint8_t>(current_ << (8 - filled_)));
      current_ = 0;
      filled_ = 0;
    }
    return std::move(out_);
  }

 private:
  void PutBit(unsigned bit) {
    current_ = static_cast<std::uint8_t>((current_ << 1) | bit);
    if (++filled_ == 8) {
      out_.push_back(current_);
      current_ = 0;
      filled_ = 0;
    }
  }

  Bytes out_;
  std::uint8_t current_ = 0;
  unsigned filled_ = 0;
};

// ---- CCITT run-length codes -------------------------------------------------------

// Terminating codes for runs of 0 to 63 pixels.
constexpr std::array<const char*, 64> kWhiteTerminating = {
    "00110101", "000111",   "0111",     "1000",     "1011",     "1100",     "1110",     "1111",
    "10011",    "10100",    "00111",    "01000",    "001000",   "000011",   "110100",   "110101",
    "101010",   "101011",   "0100111",  "0001100",  "0001000",  "0010111",  "0000011",  "0000100",
    "0101000",  "0101011",  "0010011",  "0100100",  "0011000",  "00000010", "00000011", "00011010",
    "00011011", "00010010", "00010011", "00010100", "00010101", "00010110", "00010111", "00101000",
    "00101001", "00101010", "00101011", "00101100", "00101101", "00000100", "00000101", "00001010",
    "00001011", "01010010", "01010011", "01010100", "01010101", "00100100", "00100101", "01011000",
    "01011001", "01011010", "01011011", "01001010", "01001011", "00110010", "00110011", "00110100",
};
constexpr std::array<const char*, 64> kBlackTerminating = {
    "0000110111",   "010",          "11",           "10",           "011",
    "0011",         "0010",         "00011",        "000101",       "000100",
    "0000100",      "0000101",      "0000111",      "00000100",     "00000111",
    "000011000",    "0000010111",   "0000011000",   "0000001000",   "00001100111",
    "00001101000",  "00001101100",  "00000110111",  "00000101000",  "00000010111",
    "00000011000",  "000011001010", "000011001011", "000011001100", "000011001101",
    "000001101000", "000001101001", "000001101010", "000001101011", "000011010010",
    "000011010011", "000011010100", "000011010101", "000011010110", "000011010111",
    "000001101100", "000001101101", "000011011010", "000011011011", "000001010100",
    "000001010101", "000001010110", "000001010111", "000001100100", "000001100101",
    "000001010010", "000001010011", "000000100100", "000000110111", "000000111000",
    "000000100111", "000000101000", "000001011000", "000001011001", "000000101011",
    "000000101100", "000001011010", "000001100110", "000001100111",
};
// Make-up codes for 64, 128, ... 1728 pixels.
constexpr std::array<const char*, 27> kWhiteMakeUp = {
    "11011",     "10010",     "010111",    "0110111",   "00110110",  "00110111",  "01100100",
    "01100101",  "01101000",  "01100111",  "011001100", "011001101", "011010010", "011010011",
    "011010100", "011010101", "011010110", "011010111", "011011000", "011011001", "011011010",
    "011011011", "010011000", "010011001", "010011010", "011000",    "010011011",
};
constexpr std::array<const char*, 27> kBlackMakeUp = {
    "0000001111",    "000011001000",  "000011001001",  "000001011011",  "000000110011",
    "000000110100",  "000000110101",  "0000001101100", "0000001101101", "0000001001010",
    "0000001001011", "0000001001100", "0000001001101", "0000001110010", "0000001110011",
    "0000001110100", "0000001110101", "0000001110110", "0000001110111", "0000001010010",
    "0000001010011", "0000001010100", "0000001010101", "0000001011010", "0000001011011",
    "0000001100100", "0000001100101",
};
// Make-up codes shared by both colours for 1792, 1856, ... 2560 pixels.
constexpr std::array<const char*, 13> kSharedMakeUp = {
    "00000001000",  "00000001100",  "00000001101",  "000000010010", "000000010011",
    "000000010100", "000000010101", "000000010110", "000000010111", "000000011100",
    "000000011101", "000000011110", "000000011111",
};

constexpr const char* kEndOfLine = "000000000001";
constexpr const char* kPass = "0001";
constexpr const char* kHorizontal = "001";
// Vertical modes by the distance of a1 from b1, -3 to +3.
constexpr std::array<const char*, 7> kVertical = {"0000010", "000010", "010", "1",
                                                  "011",     "000011", "0000011"};

void PutMakeUp(BitWriter& out, std::uint32_t length, bool black) {
  // `length` is a multiple of 64 between 64 and 2560.
  if (length >= 1792) {
    out.Put(kSharedMakeUp[(length - 1792) / 64]);
  } else {
    out.Put((black ? kBlackMakeUp : kWhiteMakeUp)[length / 64 - 1]);
  }
}

void PutRun(BitWriter& out, std::uint32_t length, bool black) {
  while (length >= 2624) {  // 2560 + 64: the rest still needs a make-up code
    PutMakeUp(out, 2560, black);
    length -= 2560;
  }
  if (length >= 64) {
    PutMakeUp(out, length / 64 * 64, black);
    length %= 64;
  }
  out.Put((black ? kBlackTerminating : kWhiteTerminating)[length]);
}

// Positions where a row changes colour, the imaginary pixel before the first being
// white: even entries turn to black, odd ones back to white.
void Changes(const std::uint8_t* row, std::uint32_t width, std::vector<std::uint32_t>* out) {
  out->clear();
  bool black = false;
  for (std::uint32_t x = 0; x < width; ++x) {
    const bool pixel = (row[x >> 3] >> (7 - (x & 7))) & 1u;
    if (pixel != black) {
      out->push_back(x);
      black = pixel;
    }
  }
}

// Index of the first change at or after `from` (the list's size when there is none).
// `from` only grows along a row, so the search goes on from where the last one ended.
std::size_t FirstChange(const std::vector<std::uint32_t>& changes, std::uint32_t from, std::size_t& hint) {
  while (hint < changes.size() && changes[hint] < from) ++hint;
  return hint;
}

std::uint32_t At(const std::vector<std::uint32_t>& changes, std::size_t i, std::uint32_t width) {
  return i < changes.size() ? changes[i] : width;
}

void EncodeRow2D(BitWriter& out, const std::vector<std::uint32_t>& coding,
                 const std::vector<std::uint32_t>& reference, std::uint32_t width) {
  // a0 starts on the imaginary white pixel before the row; `start` is then true and
  // changes at position 0 count as lying to its right.
  std::uint32_t a0 = 0;
  bool start = true;
  bool black = false;  // colour of a0
  std::size_t codingHint = 0;
  std::size_t referenceHint = 0;
  while (start || a0 < width) {
    const std::uint32_t from = start ? 0 : a0 + 1;
    const std::size_t ia1 = FirstChange(coding, from, codingHint);
    const std::uint32_t a1 = At(coding, ia1, width);
    // b1: the first change right of a0 to the colour opposite a0's; such changes have
    // an even index when a0 is white.
    std::size_t ib1 = FirstChange(reference, from, referenceHint);
    if (ib1 < reference.size() && ((ib1 % 2 == 0) == black)) ++ib1;
    const std::uint32_t b1 = At(reference, ib1, width);
    const std::uint32_t b2 = At(reference, ib1 + 1, width);
    if (b2 < a1) {
      out.Put(kPass);
      a0 = b2;
    } else if (a1 + 3 >= b1 && b1 + 3 >= a1) {
      out.Put(kVertical[static_cast<std::size_t>(static_cast<int>(a1) - static_cast<int>(b1) + 3)]);
      a0 = a1;
      black = !black;
    } else {
      const std::uint32_t a2 = At(coding, ia1 + 1, width);
      out.Put(kHorizontal);
      PutRun(out, a1 - (start ? 0 : a0), black);
      PutRun(out, a2 - a1, !black);
      a0 = a2;
    }
    start = false;
  }
}

}  // namespace

Bytes PackBits(const std::uint8_t* rows, std::size_t rowBytes, std::uint32_t rowCount) {
  Bytes out;
  for (std::uint32_t r = 0; r < rowCount; ++r) {
    const std::uint8_t* row = rows + r * rowBytes;
    std::size_t i = 0;
    while (i < rowBytes) {
      std::size_t run = 1;
      while (i + run < rowBytes && row[i + run] == row[i] && run < 128) ++run;
      if (run >= 3) {
        out.push_back(static_cast<std::uint8_t>(257 - run));  // -(run - 1) as a signed byte
        out.push_back(row[i]);
        i += run;
        continue;
      }
      const std::size_t begin = i;
      while (i < rowBytes && i - begin < 128) {
        if (i + 2 < rowBytes && row[i] == row[i + 1] && row[i] == row[i + 2]) break;
        ++i;
      }
      out.push_back(static_cast<std::uint8_t>(i - begin - 1));
      out.insert(out.end(), row + begin, row + i);
    }
  }
  return out;
}

Bytes Lzw(const std::uint8_t* data, std::size_t size) {
  constexpr std::uint32_t kClear = 256;
  constexpr std::uint32_t kEnd = 257;
  constexpr std::uint32_t kFirst = 258;
  constexpr std::uint32_t kFull = 4094;
  BitWriter out;
  std::unordered_map<std::uint32_t, std::uint32_t> table;
  unsigned width = 9;
  std::uint32_t next = kFirst;
  // After each code the table grows by one entry (the reader adds it one code later,
  // which is why the width grows when `next` passes the largest code of the width).
  auto grow = [&] {
    ++next;
    if (next == kFull) {
      out.Put(kClear, width);
      table.clear();
      next = kFirst;
      width = 9;
    } else if (next > (1u << width) - 1) {
      ++width;
    }
  };
  out.Put(kClear, width);
  if (size != 0) {
    std::uint32_t prefix = data[0];
    for (std::size_t i = 1; i < size; ++i) {
      const std::uint32_t key = (prefix << 8) | data[i];
      const auto found = table.find(key);
      if (found != table.end()) {
        prefix = found->second;
        continue;
      }
      out.Put(prefix, width);
      table.emplace(key, next);
      grow();
      prefix = data[i];
    }
    out.Put(prefix, width);
    grow();
  }
  out.Put(kEnd, width);
  return out.Take();
}

Bytes CcittG3(const std::uint8_t* rows, std::size_t rowBytes, std::uint32_t width,
              std::uint32_t rowCount) {
  BitWriter out;
  std::vector<std::uint32_t> changes;
  for (std::uint32_t r = 0; r < rowCount; ++r) {
    Changes(rows + r * rowBytes, width, &changes);
    out.Put(kEndOfLine);
    std::uint32_t x = 0;
    bool black = false;
    for (const std::uint32_t change : changes) {
      PutRun(out, change - x, black);
      x = change;
      black = !black;
    }
    PutRun(out, width - x, black);
  }
  return out.Take();
}

Bytes CcittG4(const std::uint8_t* rows, std::size_t rowBytes, std::uint32_t width,
              std::uint32_t rowCount) {
  BitWriter out;
  std::vector<std::uint32_t> reference;  // the white row above the first
  std::vector<std::uint32_t> coding;
  for (std::uint32_t r = 0; r < rowCount; ++r) {
    Changes(rows + r * rowBytes, width, &coding);
    EncodeRow2D(out, coding, reference, width);
    reference.swap(coding);
  }
  out.Put(kEndOfLine);
  out.Put(kEndOfLine);
  return out.Take();
}

}  // namespace esproduce::tiffcodec
