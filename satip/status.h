// The status string a SAT>IP 1.2.2 server reports for a stream, in its RTCP
// APP packet (SES1) and in the fmtp line of its DESCRIBE answer:
//   ver=1.0;src=1;tuner=1,240,1,15,11778.00,v,dvbs,qpsk,off,0.35,27500,34;pids=0,17
// tuner= frontend, level 0..255, lock 0/1, quality 0..15, then freq, pol,
// msys, mtype, plts, ro, sr and fec as the query writes them.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "satip/pids.h"
#include "satip/query.h"

namespace satip {

constexpr int kMaxLevel = 255;
constexpr int kMaxQuality = 15;

struct Signal {
  int level = 0;  // 0..kMaxLevel
  bool lock = false;
  int quality = 0;  // 0..kMaxQuality
};

// A stream's status. Written with the signal's figures clamped to their
// ranges; a stream without a tuning has its tuning fields empty.
std::string StatusText(int frontend, const std::optional<Tuning>& tuning, const Signal& signal,
                       const PidSet& pids);

struct Status {
  std::string version;  // "1.0"
  int frontend = 0;
  Signal signal;
  // src, freq, pol, msys, mtype, plts, ro, sr, fec and pids as far as the
  // report gives them: an empty or unreadable field, or pids missing, is absent.
  Query values;
};

// Read as servers write it: fields in any order, unknown ones and extra tuner
// fields passed over, "ro=35" as well as "0.35", a level or quality beyond its
// range taken as the range's end. False with a reason in *error only when the
// signal cannot be read: no tuner field, or its first four not numbers.
bool ParseStatus(std::string_view text, Status* status, std::string* error);

}  // namespace satip
