// The Linux DVB card library's features of its own: see linux_card.h.
#include "host/linux_card.h"

#include <algorithm>

#include "host/system.h"
#include "linuxdvb/figures.h"
#include "linuxdvb/selector.h"
#include "loader/module.h"

namespace host {

const bool kLinuxCards = true;

bool LinuxCardSelector(const std::string& words, std::string* selector) {
  linuxdvb::DeviceSelector read;
  std::string error;
  if (!linuxdvb::ParseSelector(words.c_str(), &read, &error)) {
    return false;
  }
  *selector = read.server.empty() ? "adapter" + std::to_string(read.adapter) : words;
  return true;
}

void ChooseLinuxAdapter(const std::string& selector) {
  SetEnvironment(linuxdvb::kSelectorVariable, selector);
}

void ShowLinuxCardMessages() { SetEnvironment(linuxdvb::kVerboseVariable, "1"); }

void FindLinuxCardEntries(void* handle, CardLibrary* library) {
  library->list_adapters =
      AsFunction<ListAdaptersFunction>(LibraryEntry(handle, "LinuxDvbListAdapters"));
}

bool ListLinuxAdapters(const CardLibrary& library, std::vector<AdapterEntry>* adapters) {
  if (library.list_adapters == nullptr) {
    return false;
  }
  std::vector<LinuxDvbAdapter> read(16);
  int count = library.list_adapters(read.data(), static_cast<int>(read.size()), sizeof read[0]);
  if (count > static_cast<int>(read.size())) {  // more than fit: once more, with room for all
    read.resize(static_cast<std::size_t>(count));
    count = library.list_adapters(read.data(), count, sizeof read[0]);
  }
  if (count < 0) {
    return false;
  }
  read.resize(std::min(read.size(), static_cast<std::size_t>(count)));
  for (const LinuxDvbAdapter& frontend : read) {
    AdapterEntry& entry = adapters->emplace_back();
    entry.adapter = frontend.adapter;
    entry.frontend = frontend.frontend;
    if (frontend.described != 0) {
      entry.name = frontend.name;
      for (const auto& system : frontend.systems) {
        if (system[0] != '\0') {
          entry.systems.emplace_back(system);
        }
      }
    }
  }
  return true;
}

}  // namespace host
