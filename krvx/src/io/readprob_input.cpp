// Chunked line input for the file readers (zlib reads plain files transparently).
#include "io/readprob.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace krvx {

namespace {
constexpr size_t kChunk = size_t(4) << 20;
}

bool isGzipFile(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned char m[2] = {0, 0};
  size_t n = std::fread(m, 1, 2, f);
  std::fclose(f);
  return n == 2 && m[0] == 0x1f && m[1] == 0x8b;
}

LineReader::~LineReader() {
  if (gz_) gzclose(static_cast<gzFile>(gz_));
}

bool LineReader::open(const std::string &path, std::string &error) {
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open '" + path + "': " + std::strerror(errno ? errno : ENOENT);
    return false;
  }
  gzbuffer(f, 1 << 18);
  gz_ = f;
  cap_ = kChunk;
  buf_.reset(new char[cap_ + 1]);
  return true;
}

bool LineReader::stopped() {
  if (!sigint_ || !sigint_->fired()) return false;
  interrupted_ = eof_ = true;
  error_ = "the read was interrupted (SIGINT)";
  return true;
}

// Moves the unread tail to the front and reads more; grows the buffer when a line fills it.
bool LineReader::fill() {
  if (eof_ || stopped()) return false;
  if (pos_ > 0) {
    std::memmove(buf_.get(), buf_.get() + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
  }
  if (len_ == cap_) {
    size_t ncap = cap_ * 2;
    std::unique_ptr<char[]> nb(new char[ncap + 1]);
    std::memcpy(nb.get(), buf_.get(), len_);
    buf_ = std::move(nb);
    cap_ = ncap;
  }
  gzFile f = static_cast<gzFile>(gz_);
  int want = int(std::min<size_t>(cap_ - len_, size_t(1) << 30));
  int got = gzread(f, buf_.get() + len_, unsigned(want));
  if (got < 0) {
    int code = 0;
    const char *msg = gzerror(f, &code);
    error_ = std::string("read error: ") + (code == Z_ERRNO ? std::strerror(errno) : msg);
    eof_ = true;
    return false;
  }
  if (got == 0) {
    int code = Z_OK;
    const char *msg = gzerror(f, &code);
    if (code == Z_BUF_ERROR) error_ = "the compressed data ends early (truncated file)";
    else if (code != Z_OK && code != Z_STREAM_END) error_ = std::string("read error: ") + msg;
    eof_ = true;
    return false;
  }
  len_ += size_t(got);
  return true;
}

void LineReader::drain() {
  while (!eof_) {
    pos_ = len_;   // what is buffered is not needed
    fill();
  }
}

bool LineReader::next(char *&begin, char *&end) {
  if ((line_ & 0x3fff) == 0x3fff && stopped()) return false;
  for (;;) {
    char *b = buf_.get() + pos_;
    char *nl = static_cast<char *>(std::memchr(b, '\n', len_ - pos_));
    if (nl) {
      pos_ = size_t(nl - buf_.get()) + 1;
      if (nl > b && nl[-1] == '\r') --nl;
      *nl = '\0';
      begin = b;
      end = nl;
      ++line_;
      return true;
    }
    if (!fill()) {
      if (failed() || pos_ == len_) return false;
      // last line without a line end
      b = buf_.get() + pos_;
      char *e = buf_.get() + len_;
      pos_ = len_;
      if (e > b && e[-1] == '\r') --e;
      *e = '\0';
      begin = b;
      end = e;
      ++line_;
      return true;
    }
  }
}

}  // namespace krvx
