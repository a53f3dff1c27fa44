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
  EXPECT_FAILS(nullptr, KRVXcreateprob(&p), "KRVXinit");
  EXPECT(p == nullptr);
  EXPECT_FAILS(nullptr, KRVXfree(), "not initialised");
  EXPECT_FAILS(nullptr, KRVXinit("/no/such/folder/anywhere"), "does not exist");
  EXPECT_OK(nullptr, KRVXinit(nullptr));
  EXPECT_OK(nullptr, KRVXinit(""));   // counted: two starts need two stops
  EXPECT_OK(nullptr, KRVXfree());
  EXPECT_OK(nullptr, KRVXcreateprob(&p));
  EXPECT(p != nullptr);
  EXPECT_OK(p, KRVXdestroyprob(p));
  EXPECT_FAILS(nullptr, KRVXdestroyprob(nullptr), "KRVXdestroyprob: no problem given");
  EXPECT_FAILS(nullptr, KRVXgetintattrib(nullptr, KRVX_ROWS, nullptr), "no problem given");
  EXPECT_FAILS(nullptr, KRVXcreateprob(nullptr), "argument 'prob' is NULL");
}

void errorTexts(KRVXprob p) {
  // a fault text longer than the buffer is cut to 511 bytes at a character boundary (both parities)
  for (const char *head : {"/no/such/dir/", "/no/such/dir/x"}) {
    std::string name = head;
    for (int i = 0; i < 300; ++i) name += "\xc3\xa9";   // two-byte characters
    EXPECT_FAILS(p, KRVXsetlogfile(p, name.c_str()), "KRVXsetlogfile: cannot open log file");
    std::string e = lastError(p);
    EXPECT(e.size() <= KRVX_MAXERRLEN - 1);
    EXPECT(e.size() >= KRVX_MAXERRLEN - 4);
    EXPECT(validUtf8(e));
  }
  // a problem's error and the global error are kept apart
  EXPECT_FAILS(nullptr, KRVXgetcontrolbyindex(-1, nullptr, nullptr, nullptr), "index -1");
  EXPECT(contains(lastError(p), "KRVXsetlogfile"));
  EXPECT(KRVXgetlasterror(p, nullptr) != 0);
}

void messages(KRVXprob p) {
  Captured local, global;
  EXPECT_OK(p, KRVXaddmessagehandler(p, capture, &local));
  EXPECT_OK(p, KRVXaddmessagehandler(p, capture, &local));   // a second registration is not a second handler
  EXPECT_OK(nullptr, KRVXaddmessagehandler(nullptr, capture, &global));
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_THREADS, 3));
  EXPECT_OK(p, KRVXsetdblcontrol(p, KRVX_MIPTOL, 1e-3));
  EXPECT_OK(p, KRVXdumpcontrols(p));
  EXPECT(local.lines.size() == 2);
  EXPECT(global.lines == local.lines);
  EXPECT(global.probs.size() == 2 && global.probs[0] == p);
  EXPECT(local.lines.size() == 2 && local.lines[0] == "threads = 3" && local.lines[1] == "miptol = 0.001");

  // suppressed message number, then OUTPUTLOG 0 silencing everything
  int status = -1;
  EXPECT_OK(p, KRVXgetmessagestatus(p, 101, &status));
  EXPECT(status == 1);
  EXPECT_OK(p, KRVXsetmessagestatus(p, 101, 0));
  EXPECT_OK(p, KRVXgetmessagestatus(p, 101, &status));
  EXPECT(status == 0);
  EXPECT_OK(p, KRVXdumpcontrols(p));
  EXPECT(local.lines.size() == 2);
  EXPECT_OK(p, KRVXsetmessagestatus(p, 101, 1));
  EXPECT_OK(p, KRVXsetintcontrol(p, KRVX_OUTPUTLOG, 0));
  EXPECT_OK(p, KRVXdumpcontrols(p));
  EXPECT(local.lines.size() == 2);
  EXPECT_OK(p, KRVXsetdefaultcontrol(p, KRVX_OUTPUTLOG));

  // log file: messages are appended; "" stops
  const char *path = "krvx_test_errors.log";
  std::remove(path);
  EXPECT_OK(p, KRVXsetlogfile(p, path));
  EXPECT_OK(p, KRVXdumpcontrols(p));
  EXPECT_OK(p, KRVXsetlogfile(p, ""));
  EXPECT_OK(p, KRVXdumpcontrols(p));
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT(ss.str() == "threads = 3\nmiptol = 0.001\n");
  std::remove(path);

  EXPECT_OK(p, KRVXremovemessagehandler(p, capture, &local));
  EXPECT_FAILS(p, KRVXremovemessagehandler(p, capture, &local), "not registered");
  EXPECT_OK(nullptr, KRVXremovemessagehandler(nullptr, capture, &global));
  size_t before = local.lines.size();
  EXPECT_OK(p, KRVXdumpcontrols(p));
  EXPECT(local.lines.size() == before);
}

}  // namespace

int main() {
  lifeCycle();
  EXPECT_OK(nullptr, KRVXinit(nullptr));
  KRVXprob p = nullptr;
  EXPECT_OK(nullptr, KRVXcreateprob(&p));
  errorTexts(p);
  messages(p);
  KRVXdestroyprob(p);
  KRVXfree();
  KRVXfree();
  return finish("test_errors");
}
