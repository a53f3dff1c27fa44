// Reading and writing problem files in MPS and LP format.
#pragma once
#include "core/sigint.h"
#include "core/store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krvx {

// Message number of the readers' and writers' warnings (KRVXsetmessagestatus can silence them).
constexpr int kMsgReadWarning = 301;

// What a reader hands back besides the fresh store: warnings to pass on, or the error text.
// `sigint`, when given, stops a reader at a SIGINT.
struct ReadLog {
  std::vector<std::string> warnings;
  std::string error;
  SigintWatch *sigint = nullptr;
};

// Reads an MPS file, fixed or free format (detected per file), plain or gzip (detected by content),
// into the fresh store `out`. `shown` is the file name used in messages. False on failure (log.error).
bool readMpsFile(const std::string &path, const std::string &shown, std::unique_ptr<ko_prob_struct> &out,
                 ReadLog &log);
// Reads an LP file, plain or gzip, into the fresh store `out` (messages as for readMpsFile).
bool readLpFile(const std::string &path, const std::string &shown, std::unique_ptr<ko_prob_struct> &out,
                ReadLog &log);

// Writers: false on failure with the text in `error`.
// `rounded` tells whether fixed format had to round a value to fit its 12-character field.
bool writeMpsFile(const ko_prob_struct &p, const std::string &path, bool fixed, std::string &error, bool &rounded);
// `warnings`: what the LP writer had to change (names the format cannot hold).
bool writeLpFile(const ko_prob_struct &p, const std::string &path, std::string &error,
                 std::vector<std::string> &warnings);

// The row of activity limits [lo, up] (infinite beyond kInf): N, E, L, G or R, with its range
// (0 but for R rows). False when no activity can meet them (lo = +inf or up = -inf).
bool rowFromRange(double lo, double up, Row &row, double &range);

// Names the writers use: the store's names, unnamed objects by their default names, all distinct.
// With `usable`, a name it refuses gets the default name too (counted in *replaced).
std::vector<std::string> fileNames(const ko_prob_struct &p, int kind, size_t count,
                                   bool (*usable)(const std::string &) = nullptr, size_t *replaced = nullptr);
// A name for the objective row: `base`, extended by '_' until no row has it.
std::string objectiveName(const std::vector<std::string> &rowNames, const char *base);

// Sequential lines of a plain or gzip-compressed file, read in large chunks. Lines are handed out
// in place (mutable, NUL-terminated, without the line end) and stay valid until the next call.
class LineReader {
 public:
  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;
  bool open(const std::string &path, std::string &error);
  // false at the end of the file or on a read error (see failed()).
  bool next(char *&begin, char *&end);
  // Reads past the rest of the file, so that a reader that stops at its end marker still finds a
  // compressed file cut short or damaged (failed() then).
  void drain();
  long line() const { return line_; }
  bool failed() const { return !error_.empty(); }
  const std::string &error() const { return error_; }
  // Stops at a SIGINT (the reading then fails, interrupted() tells why).
  void stopOnSigint(SigintWatch *w) { sigint_ = w; }
  bool interrupted() const { return interrupted_; }

 private:
  bool fill();
  bool stopped();
  void *gz_ = nullptr;
  SigintWatch *sigint_ = nullptr;
  bool interrupted_ = false;
  std::unique_ptr<char[]> buf_;
  size_t cap_ = 0, pos_ = 0, len_ = 0;
  bool eof_ = false;
  long line_ = 0;
  std::string error_;
};

// True when the file starts with the gzip magic bytes.
bool isGzipFile(const std::string &path);

}  // namespace krvx
