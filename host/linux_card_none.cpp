// The Linux DVB card library's features where there is no such library (the
// Windows build): see linux_card.h.
#include "host/linux_card.h"

namespace host {

const bool kLinuxCards = false;

bool LinuxCardSelector(const std::string& /*words*/, std::string* /*selector*/) { return false; }
void ChooseLinuxAdapter(const std::string& /*selector*/) {}
void ShowLinuxCardMessages() {}
void FindLinuxCardEntries(void* /*handle*/, CardLibrary* /*library*/) {}
bool ListLinuxAdapters(const CardLibrary& /*library*/, std::vector<AdapterEntry>* /*adapters*/) {
  return false;
}

}  // namespace host
