// The Linux DVB card library's features of its own, behind one file: natively
// linux_card.cpp, over linuxdvb/; under Windows linux_card_none.cpp, where
// there is no such library. The rest of the program asks these and never
// which system it runs on.
#pragma once
#include <string>
#include <vector>

#include "host/card_figures.h"
#include "host/card_library.h"

namespace host {

// The Linux DVB card library is part of this build (--card linux, adapters).
extern const bool kLinuxCards;

// The adapter words of --card linux:WORDS and --card remote:...: "adapter1"
// for "1" or "adapter1", "remote:HOST:PORT[:adapterN]" as it is, each checked
// the way the Linux library reads it. False when they name no adapter.
bool LinuxCardSelector(const std::string& words, std::string* selector);
// The adapter the Linux library opens (MORVALIND_DVB), before it loads.
void ChooseLinuxAdapter(const std::string& selector);
// The Linux library says more (libdvbv5's messages, its figures at close).
void ShowLinuxCardMessages();
// The Linux library's own entries in a loaded card library, where it has them.
void FindLinuxCardEntries(void* handle, CardLibrary* library);
// The adapters the library finds; false when they cannot be listed (the
// library said why on stderr).
bool ListLinuxAdapters(const CardLibrary& library, std::vector<AdapterEntry>* adapters);

}  // namespace host
