// The adapters command: the DVB adapters the Linux DVB card library finds,
// on this machine or on the dvbv5-daemon --card names. Neither the module nor
// a card is opened.
#include "host/linux_card.h"
#include "host/options.h"

namespace host {

int RunAdapters(const Options& options) {
  CardChoice choice = options.session.card;
  if (choice.kind == CardKind::kDefault) {
    choice.kind = CardKind::kLinux;
  }
  std::string problem;
  if (!LoadCardLibrary(choice, &problem)) {
    Report()["card_library"] = CardLibraryPath(choice);
    return Fail(kExitCard, problem);
  }
  const CardLibrary library = FindCardLibrary();
  Report()["card_library"] = library.path;
  Say("Card library      %s\n", library.path.c_str());
  if (library.list_adapters == nullptr) {
    return Fail(kExitCard, "the card library " + library.path +
                               " cannot list adapters (it is not the Linux DVB card library)");
  }
  std::vector<AdapterEntry> adapters;
  if (!ListLinuxAdapters(library, &adapters)) {
    const std::string why = CardLibraryProblem(library);
    return Fail(kExitCard, "the adapters cannot be listed (" +
                               (why.empty() ? "the card library said why" : why) + ")");
  }
  Json& list = Report()["adapters"] = Json::array();
  for (const AdapterEntry& entry : adapters) {
    std::string systems;
    for (const std::string& system : entry.systems) {
      systems += (systems.empty() ? "" : " ") + system;
    }
    list.push_back({{"adapter", entry.adapter},
                    {"frontend", entry.frontend},
                    {"name", entry.name},
                    {"delivery_systems", entry.systems}});
    Say("adapter%d frontend%d  %s (%s)\n", entry.adapter, entry.frontend,
        entry.name.empty() ? "(cannot be described)" : entry.name.c_str(), systems.c_str());
  }
  if (adapters.empty()) {
    Say("No DVB adapters found\n");
  }
  return kExitOk;
}

}  // namespace host
