// Life cycle, last-error texts and message output.
#include "testutil.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

struct Captured {
  std::vector<std::string> lines;
  std::vector<KRVXprob> probs;
};

void capture(KRVXprob prob, void *data, const char *msg, int len, int msgtype) {
  auto *c = static_cast<Captured *>(data);
  if (msgtype < 0) return;
  c->lines.emplace_back(msg, size_t(len));
  c->probs.push_back(prob);
}

bool validUtf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

void lifeCycle() {
  KRVXprob p = nullptr;
  CHECK_FAILS(nullptr, KRVXcreateprob(&p), "KRVXinit");
  CHECK(p == nullptr);
  CHECK_FAILS(nullptr, KRVXfree(), "not initialised");
  CHECK_FAILS(nullptr, KRVXinit("/no/such/folder/anywhere"), "does not exist");
  CHECK_OK(nullptr, KRVXinit(nullptr));
  CHECK_OK(nullptr, KRVXinit(""));   // counted: two starts need two stops
  CHECK_OK(nullptr, KRVXfree());
  CHECK_OK(nullptr, KRVXcreateprob(&p));
  CHECK(p != nullptr);
  CHECK_OK(p, KRVXdestroyprob(p));
  CHECK_FAILS(nullptr, KRVXdestroyprob(nullptr), "KRVXdestroyprob: no problem given");
  CHECK_FAILS(nullptr, KRVXgetintattrib(nullptr, KRVX_ROWS, nullptr), "no problem given");
  CHECK_FAILS(nullptr, KRVXcreateprob(nullptr), "argument 'prob' is NULL");
}

void errorTexts(KRVXprob p) {
  // a fault text longer than the buffer is cut to 511 bytes at a character boundary (both parities)
  for (const char *head : {"/no/such/dir/", "/no/such/dir/x"}) {
    std::string name = head;
    for (int i = 0; i < 300; ++i) name += "\xc3\xa9";   // two-byte characters
    CHECK_FAILS(p, KRVXsetlogfile(p, name.c_str()), "KRVXsetlogfile: cannot open log file");
    std::string e = lastError(p);
    CHECK(e.size() <= KRVX_MAXERRLEN - 1);
    CHECK(e.size() >= KRVX_MAXERRLEN - 4);
    CHECK(validUtf8(e));
  }
  // a problem's error and the global error are kept apart
  CHECK_FAILS(nullptr, KRVXgetcontrolbyindex(-1, nullptr, nullptr, nullptr), "index -1");
  CHECK(contains(lastError(p), "KRVXsetlogfile"));
  CHECK(KRVXgetlasterror(p, nullptr) != 0);
}

void messages(KRVXprob p) {
  Captured local, global;
  CHECK_OK(p, KRVXaddmessagehandler(p, capture, &local));
  CHECK_OK(p, KRVXaddmessagehandler(p, capture, &local));   // a second registration is not a second handler
  CHECK_OK(nullptr, KRVXaddmessagehandler(nullptr, capture, &global));
  CHECK_OK(p, KRVXsetintcontrol(p, KRVX_THREADS, 3));
  CHECK_OK(p, KRVXsetdblcontrol(p, KRVX_MIPTOL, 1e-3));
  CHECK_OK(p, KRVXdumpcontrols(p));
  CHECK(local.lines.size() == 2);
  CHECK(global.lines == local.lines);
  CHECK(global.probs.size() == 2 && global.probs[0] == p);
  CHECK(local.lines.size() == 2 && local.lines[0] == "threads = 3" && local.lines[1] == "miptol = 0.001");

  // suppressed message number, then OUTPUTLOG 0 silencing everything
  int status = -1;
  CHECK_OK(p, KRVXgetmessagestatus(p, 101, &status));
  CHECK(status == 1);
  CHECK_OK(p, KRVXsetmessagestatus(p, 101, 0));
  CHECK_OK(p, KRVXgetmessagestatus(p, 101, &status));
  CHECK(status == 0);
  CHECK_OK(p, KRVXdumpcontrols(p));
  CHECK(local.lines.size() == 2);
  CHECK_OK(p, KRVXsetmessagestatus(p, 101, 1));
  CHECK_OK(p, KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0));
  CHECK_OK(p, KRVXdumpcontrols(p));
  CHECK(local.lines.size() == 2);
  CHECK_OK(p, KRVXsetdefaultcontrol(p, KRVX_OUTPUTLOG));

  // log file: messages are appended; "" stops
  const char *path = "krvx_test_errors.log";
  std::remove(path);
  CHECK_OK(p, KRVXsetlogfile(p, path));
  CHECK_OK(p, KRVXdumpcontrols(p));
  CHECK_OK(p, KRVXsetlogfile(p, ""));
  CHECK_OK(p, KRVXdumpcontrols(p));
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  CHECK(ss.str() == "threads = 3\nmiptol = 0.001\n");
  std::remove(path);

  CHECK_OK(p, KRVXremovemessagehandler(p, capture, &local));
  CHECK_FAILS(p, KRVXremovemessagehandler(p, capture, &local), "not registered");
  CHECK_OK(nullptr, KRVXremovemessagehandler(nullptr, capture, &global));
  size_t before = local.lines.size();
  CHECK_OK(p, KRVXdumpcontrols(p));
  CHECK(local.lines.size() == before);
}

}  // namespace

int main() {
  lifeCycle();
  CHECK_OK(nullptr, KRVXinit(nullptr));
  KRVXprob p = nullptr;
  CHECK_OK(nullptr, KRVXcreateprob(&p));
  errorTexts(p);
  messages(p);
  KRVXdestroyprob(p);
  KRVXfree();
  KRVXfree();
  return finish("test_errors");
}
