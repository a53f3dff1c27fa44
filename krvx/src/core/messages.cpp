// Message output: per-problem and global handlers, log files, suppressed message numbers.
#include "core/call_guard.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace krvx {
namespace {

struct GlobalMessages {
  std::mutex mtx;
  std::vector<MessageHandler> handlers;
  std::unordered_map<int, int> msgstatus;
};
GlobalMessages &globalMessages() {
  static GlobalMessages *g = new GlobalMessages;   // never destroyed: handlers may run at exit
  return *g;
}

bool shown(const std::unordered_map<int, int> &status, int code) {
  auto it = status.find(code);
  return it == status.end() || it->second != 0;
}

// A number set on the problem wins over the global setting.
bool codeShown(ko_prob_struct *p, int code) {
  if (p) {
    std::lock_guard<std::mutex> lock(p->msgmtx);
    auto it = p->msgstatus.find(code);
    if (it != p->msgstatus.end()) return it->second != 0;
  }
  GlobalMessages &g = globalMessages();
  std::lock_guard<std::mutex> lock(g.mtx);
  return shown(g.msgstatus, code);
}

// Sends one line to the log file and the handlers. No lock is held while a handler runs,
// so handlers may call back into the library.
void emitLine(ko_prob_struct *p, int msgtype, const char *line, int len) {
  std::vector<MessageHandler> handlers;
  if (p) {
    std::lock_guard<std::mutex> lock(p->msgmtx);
    if (p->logfp && msgtype >= 0) {
      FILE *f = static_cast<FILE *>(p->logfp);
      std::fwrite(line, 1, len, f);
      std::fputc('\n', f);
      std::fflush(f);
    }
    handlers = p->handlers;
  }
  {
    GlobalMessages &g = globalMessages();
    std::lock_guard<std::mutex> lock(g.mtx);
    handlers.insert(handlers.end(), g.handlers.begin(), g.handlers.end());
  }
  for (const MessageHandler &h : handlers) {
    try {
      h.f(p, h.data, line, len, msgtype);
    } catch (...) {
      // a handler's failure must not cross into the caller's call
    }
  }
}

void emit(ko_prob_struct *p, int msgcode, int msgtype, const char *fmt, va_list ap) noexcept {
  try {
    if (p && p->outputlog.load() == 0) return;
    if (msgcode != 0 && !codeShown(p, msgcode)) return;
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap2);
    va_end(ap2);
    if (n < 0) return;
    std::string text(size_t(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), fmt, ap);
    text.resize(n);
    // one handler call per line, without the line end
    size_t pos = 0;
    do {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      emitLine(p, msgtype, text.c_str() + pos, int(end - pos));
      pos = end + 1;
    } while (pos < text.size());
  } catch (...) {
    // message output is best effort: out of memory drops the message
  }
}

std::vector<MessageHandler> &handlersOf(ko_prob_struct *p) {
  return p ? p->handlers : globalMessages().handlers;
}
std::mutex &handlerLockOf(ko_prob_struct *p) { return p ? p->msgmtx : globalMessages().mtx; }
std::unordered_map<int, int> &statusOf(ko_prob_struct *p) {
  return p ? p->msgstatus : globalMessages().msgstatus;
}

}  // namespace

void message(ko_prob_struct *p, int msgtype, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(p, 0, msgtype, fmt, ap);
  va_end(ap);
}

void messageCode(ko_prob_struct *p, int msgcode, int msgtype, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(p, msgcode, msgtype, fmt, ap);
  va_end(ap);
}

void closeLog(ko_prob_struct *p) {
  std::lock_guard<std::mutex> lock(p->msgmtx);
  if (p->logfp) std::fclose(static_cast<FILE *>(p->logfp));
  p->logfp = nullptr;
  p->logfile.clear();
}

}  // namespace krvx

using namespace krvx;

// A call on a problem or, with prob NULL, on the global tables; the error goes where the call belongs.
template <class F>
static int onTarget(KRVXprob prob, const char *fn, F &&body) {
  return prob ? guard(prob, fn, body) : guardGlobal(fn, body);
}

extern "C" KRVX_API int KRVXaddmessagehandler(KRVXprob prob, KRVXmessagefunc f, void *data) {
  return onTarget(prob, "KRVXaddmessagehandler", [&] {
    if (!f) raise(kErrInvalid, "argument 'f' is NULL");
    std::lock_guard<std::mutex> lock(handlerLockOf(prob));
    auto &hs = handlersOf(prob);
    for (const MessageHandler &h : hs)
      if (h.f == f && h.data == data) return;   // already registered
    hs.push_back({f, data});
  });
}

extern "C" KRVX_API int KRVXremovemessagehandler(KRVXprob prob, KRVXmessagefunc f, void *data) {
  return onTarget(prob, "KRVXremovemessagehandler", [&] {
    std::lock_guard<std::mutex> lock(handlerLockOf(prob));
    auto &hs = handlersOf(prob);
    auto it = std::find_if(hs.begin(), hs.end(), [&](const MessageHandler &h) { return h.f == f && h.data == data; });
    if (it == hs.end()) raise(kErrInvalid, "the handler is not registered");
    hs.erase(it);
  });
}

extern "C" KRVX_API int KRVXsetmessagestatus(KRVXprob prob, int msgcode, int status) {
  return onTarget(prob, "KRVXsetmessagestatus", [&] {
    if (msgcode <= 0) raise(kErrInvalid, "invalid message number %d", msgcode);
    std::lock_guard<std::mutex> lock(handlerLockOf(prob));
    statusOf(prob)[msgcode] = status != 0;
  });
}

extern "C" KRVX_API int KRVXgetmessagestatus(KRVXprob prob, int msgcode, int *status) {
  return onTarget(prob, "KRVXgetmessagestatus", [&] {
    if (!status) raise(kErrInvalid, "argument 'status' is NULL");
    if (msgcode <= 0) raise(kErrInvalid, "invalid message number %d", msgcode);
    std::lock_guard<std::mutex> lock(handlerLockOf(prob));
    *status = shown(statusOf(prob), msgcode) ? 1 : 0;
  });
}

extern "C" KRVX_API int KRVXsetlogfile(KRVXprob prob, const char *filename) {
  return guard(prob, "KRVXsetlogfile", [&] {
    std::string name = checkedString(filename, KRVX_MAXPROBNAMELENGTH, "filename");
    FILE *f = nullptr;
    if (!name.empty()) {
      f = std::fopen(name.c_str(), "a");
      if (!f) raise(kErrFile, "cannot open log file '%s': %s", name.c_str(), std::strerror(errno));
    }
    closeLog(prob);
    std::lock_guard<std::mutex> lock(prob->msgmtx);
    prob->logfp = f;
    prob->logfile = name;
  });
}
