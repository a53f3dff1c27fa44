// Message lines of the COIN-OR engines (Cbc, Bonmin) to a problem's message output.
#pragma once
#include "core/store.h"
#include "solve/solve.h"

#include <CoinMessageHandler.hpp>

namespace krvx {

class CoinLogHandler : public CoinMessageHandler {
 public:
  explicit CoinLogHandler(ko_prob_struct *p) : p_(p) {}
  CoinMessageHandler *clone() const override { return new CoinLogHandler(*this); }
  int print() override {
    messageCode(p_, kMsgSolverLog, 1, "%s", messageBuffer());
    return 0;
  }

 private:
  ko_prob_struct *p_;
};

}  // namespace krvx
