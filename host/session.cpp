// The card through the module: see session.h.
#include "host/session.h"

#include "host/linux_card.h"
#include "host/packet_ring.h"
#include "host/system.h"

namespace host {

namespace {

constexpr char kModuleFile[] = "Morvalind.dev";

// Set once the module has shown a message box (it then said why it failed).
bool module_spoke = false;

void SayCardLibrary(const std::string& path) {
  Say("Card library      %s\n", path.empty() ? "none loaded" : path.c_str());
}

}  // namespace

std::string ModulePath(const SessionOptions& options) {
  return !options.module.empty() ? options.module : ProgramFolder() + kModuleFile;
}

bool LoadModule(const std::string& path, Module* module) {
  if (module->Load(path) != LoadStatus::kOk) {
    Fail(kExitModule, module->error());
    return false;
  }
  return true;
}

void ReportModuleMessage(const ShownMessageBox& box) {
  module_spoke = true;
  std::fflush(stdout);
  std::fprintf(stderr, "%s: the module says [%s] %s\n", kProgram, box.caption.c_str(),
               box.text.c_str());
}

Session::Session(const SessionOptions& options) : module_path_(ModulePath(options)) {
  if (!options.replay.empty()) {
    // The stand-in card reads it from the environment when it loads its lineup.
    SetEnvironment("MORVALIND_SIM_REPLAY", options.replay);
  }
  if (options.verbose) {
    ShowLinuxCardMessages();
  }
  if (!LoadModule(module_path_, &module_)) {
    return;
  }
  Report()["module"] = module_path_;
  Say("Module            %s\n", module_path_.c_str());
  std::string problem;
  if (!LoadCardLibrary(options.card, &problem)) {
    Report()["card_library"] = CardLibraryPath(options.card);
    status_ = Fail(kExitCard, problem);
    return;
  }
  module_.entries().set_callback(PacketCallback());
  open_result_ = module_.entries().open();
  library_ = FindCardLibrary();
  Report()["open"] = {{"result", open_result_}, {"opened", open_result_ == kResultOk}};
  Report()["card_library"] = library_.path;
  Say("DeviceOpen        %d (%s)\n", static_cast<int>(open_result_),
      open_result_ == kResultOk ? "opened" : "failed");
  SayCardLibrary(library_.path);
  if (open_result_ != kResultOk) {
    status_ = kExitCard;
    problem = "the card did not open (DeviceOpen returned " + std::to_string(open_result_) + ")";
    const std::string why = CardLibraryProblem(library_);
    problem += why.empty() ? "" : "; the card library says: " + why;
    if (!module_spoke) {
      Fail(kExitCard, problem);
    } else if (JsonReport()) {
      Report()["error"] = problem;
    }
    return;
  }
  open_ = true;
  status_ = kExitOk;
}

std::int32_t Session::Close() {
  if (open_) {
    open_ = false;
    close_result_ = module_.entries().close();
  }
  return close_result_;
}

int Session::End(int status) {
  if (status_ != kExitOk || reported_) {  // never opened, or reported already
    return status;
  }
  reported_ = true;
  const int closed = ReportClose(Close());
  return status != kExitOk ? status : closed;
}

int ReportClose(std::int32_t result) {
  Report()["close"] = {{"result", result}, {"closed", result == kResultOk}};
  Say("DeviceClose       %d (%s)\n", static_cast<int>(result),
      result == kResultOk ? "closed" : "failed");
  return result == kResultOk ? kExitOk
                             : Fail(kExitFailure, "DeviceClose returned " + std::to_string(result));
}

void ReportDescriptor(const DeviceInterfaceInfo& info) {
  const std::string name = FieldText(info.device_name);
  const std::string file = PackedVersion(info.file_version);
  const std::string product = PackedVersion(info.product_version);
  const std::string author = FieldText(info.author);
  Report()["descriptor"] = {
      {"device_name", name},
      {"file_version", file},
      {"product_version", product},
      {"author", author},
      {"fixed_words", {{"offset_520", info.word_520}, {"offset_524", info.word_524}}}};
  Say("Device            %s, file version %s, product version %s\n", name.c_str(), file.c_str(),
      product.c_str());
  Say("Author            %s; fixed words %u at offset 520, %u at 524\n", author.c_str(),
      static_cast<unsigned>(info.word_520), static_cast<unsigned>(info.word_524));
}

}  // namespace host
