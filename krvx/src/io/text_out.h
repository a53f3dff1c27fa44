// Buffered text output of the file writers, plain or gzip-compressed.
#pragma once
#include <zlib.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace krvx {

class TextOut {
 public:
  explicit TextOut(bool gz) : gz_(gz) {}
  ~TextOut() { close(); }
  TextOut(const TextOut &) = delete;
  TextOut &operator=(const TextOut &) = delete;
  bool open(const std::string &path) {
    if (gz_) g_ = gzopen(path.c_str(), "wb6");
    else f_ = std::fopen(path.c_str(), "wb");
    return g_ || f_;
  }
  // False when anything failed to reach the file.
  bool close() {
    bool ok = flush();
    if (g_) ok = gzclose(static_cast<gzFile>(g_)) == Z_OK && ok;
    if (f_) ok = std::fclose(f_) == 0 && ok;
    g_ = nullptr;
    f_ = nullptr;
    return ok && !failed_;
  }
  void raw(std::string_view s) {
    buf_.append(s);
    if (buf_.size() >= (size_t(1) << 20)) flush();
  }

 private:
  bool flush() {
    if (buf_.empty()) return true;
    bool ok = g_ ? gzwrite(static_cast<gzFile>(g_), buf_.data(), unsigned(buf_.size())) == int(buf_.size())
                 : f_ && std::fwrite(buf_.data(), 1, buf_.size(), f_) == buf_.size();
    if (!ok) failed_ = true;
    buf_.clear();
    return ok;
  }
  bool gz_;
  void *g_ = nullptr;
  FILE *f_ = nullptr;
  std::string buf_;
  bool failed_ = false;
};

}  // namespace krvx
