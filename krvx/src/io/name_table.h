// Pieces the file readers share: the fault they throw (caught once per file, with its line), an
// arena that holds names for the whole read, and an open-addressing index from names to positions.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krvx {

struct Fault {
  long line;  // 0: the line being read
  std::string text;
};

[[noreturn]] inline void fault(std::string text, long line = 0) { throw Fault{line, std::move(text)}; }

// A name for messages: quoted, long names cut.
inline std::string quoted(std::string_view s) {
  if (s.size() > 64) return "'" + std::string(s.substr(0, 61)) + "...'";
  return "'" + std::string(s) + "'";
}

// Append-only storage for names; views into it stay valid.
class NameArena {
 public:
  std::string_view add(std::string_view s) {
    if (std::memchr(s.data(), 0, s.size())) fault("name with a NUL byte");
    if (s.size() > left_) {
      size_t sz = std::max<size_t>(size_t(1) << 20, s.size());
      blocks_.emplace_back(new char[sz]);
      cur_ = blocks_.back().get();
      left_ = sz;
    }
    std::memcpy(cur_, s.data(), s.size());
    std::string_view v(cur_, s.size());
    cur_ += s.size();
    left_ -= s.size();
    return v;
  }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char *cur_ = nullptr;
  size_t left_ = 0;
};

inline uint64_t hashName(std::string_view s) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
  return h ^ (h >> 29);
}

// Open-addressing map from names (views that outlive it, e.g. into a NameArena) to indices.
class NameIndex {
 public:
  int find(std::string_view s) const {
    if (slots_.empty()) return -1;
    uint64_t h = hashName(s);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot &sl = slots_[i];
      if (!sl.key.data()) return -1;
      if (sl.h == h && sl.key == s) return sl.value;
    }
  }
  // Adds the name; returns the existing value when it is already there, else -1.
  int insert(std::string_view s, int value) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    uint64_t h = hashName(s);
    for (size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot &sl = slots_[i];
      if (!sl.key.data()) {
        sl = Slot{h, s, value};
        ++used_;
        return -1;
      }
      if (sl.h == h && sl.key == s) return sl.value;
    }
  }

 private:
  struct Slot {
    uint64_t h = 0;
    std::string_view key;
    int value = 0;
  };
  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.resize(old.empty() ? 1024 : old.size() * 2);
    mask_ = slots_.size() - 1;
    for (const Slot &sl : old) {
      if (!sl.key.data()) continue;
      size_t i = sl.h & mask_;
      while (slots_[i].key.data()) i = (i + 1) & mask_;
      slots_[i] = sl;
    }
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0, used_ = 0;
};

}  // namespace krvx
