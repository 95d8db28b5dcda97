// Binding to the vendor access library: one table of entries serves both
// targets. On win32 the entries are the library's C++ members under their
// decorated export names (this in ECX, callee pops); on native the stand-in
// card exports the same entries under plain C names.
#include "card/vendor.h"

#include <cstring>
#include <new>

MV_ALLOW_THISCALL_ON_FUNCTIONS

namespace {

// How an entry hands back its result, read from the return-type code of the
// decorated name where the library's build leaves it open.
enum class ResultKind { kWord, kBool, kNone };

// Fields in the order the table below reads, not packed for size.
struct VendorEntry {               // NOLINT(clang-analyzer-optin.performance.Padding)
  const char* head;                // qualified name and function class, up to the result code
  const char* result;              // the result code the module was written against
  const char* tail;                // parameter codes and terminator
  bool result_open;                // the library may declare another result type
  const char* plain;               // the native stand-in's name
  std::uint32_t result_when_none;  // what a call of an entry without result means
};

// Names derived from the vendor's declarations and checked against a compiler
// for the vendor's platform.
const VendorEntry kEntries[] = {
    {"??0CDVBBoardControl@@QAE@", "", "XZ", false, "CDVBBoardControl_Construct", 0},
    {"??1CDVBBoardControl@@UAE@", "", "XZ", false, "CDVBBoardControl_Destruct", 0},
    {"?ResetInit@CDVBBoardControl@@QAE", "?AW4DVB_ERROR@@", "XZ", false,
     "CDVBBoardControl_ResetInit", 0},
    {"?EnableDataDMA@CDVBBoardControl@@QAE", "?AW4DVB_ERROR@@", "H@Z", false,
     "CDVBBoardControl_EnableDataDMA", 0},
    {"?TSRecordOnOff@CDVBBoardControl@@QAE", "?AW4DVB_ERROR@@", "H@Z", true,
     "CDVBBoardControl_TSRecordOnOff", 0},
    {"?TSRecordRead@CDVBBoardControl@@QAE", "H", "PAEH@Z", false, "CDVBBoardControl_TSRecordRead",
     0},
    {"??0CDVBFrontend@@QAE@", "", "XZ", false, "CDVBFrontend_Construct", 0},
    {"??1CDVBFrontend@@UAE@", "", "XZ", false, "CDVBFrontend_Destruct", 0},
    {"?Init@CDVBFrontend@@QAE", "?AW4DVB_ERROR@@", "XZ", false, "CDVBFrontend_Init", 0},
    {"?SetChannel@CDVBFrontend@@QAE", "?AW4DVB_ERROR@@", "U_CHANNEL_TYPE@1@H@Z", false,
     "CDVBFrontend_SetChannel", 0},
    {"?GetState@CDVBFrontend@@QAE", "?AW4DVB_ERROR@@", "AAHPAU_SIGNAL_TYPE@1@PAU_LOCK_STATE@1@@Z",
     false, "CDVBFrontend_GetState", 0},
    {"?SendDiSEqCMsg@CDVBFrontend@@QAE", "?AW4DVB_ERROR@@", "PAEEE@Z", false,
     "CDVBFrontend_SendDiSEqCMsg", 0},
    {"?OpenDevice@CDVBCommon@@SA", "_N", "GPBDH@Z", true, "CDVBCommon_OpenDevice", 1},
    {"?CloseDevice@CDVBCommon@@SA", "?AW4DVB_ERROR@@", "XZ", true, "CDVBCommon_CloseDevice", 0},
    {"?InitDvbApiDll@@YA", "?AW4DVB_ERROR@@", "XZ", true, "InitDvbApiDll", 0},
};
constexpr std::size_t kEntryCount = sizeof kEntries / sizeof kEntries[0];

// Rows of kEntries, in the table's order.
enum EntryIndex : std::size_t {
  kBoardConstruct,
  kBoardDestruct,
  kResetInit,
  kEnableDataDma,
  kTsRecordOnOff,
  kTsRecordRead,
  kFrontendConstruct,
  kFrontendDestruct,
  kFrontendInit,
  kSetChannel,
  kGetState,
  kSendDiseqcMsg,
  kOpenDevice,
  kCloseDevice,
  kInitDvbApiDll,
  kEntryIndexEnd,
};
static_assert(kEntryIndexEnd == kEntryCount, "one EntryIndex for each row of kEntries");

struct BoundEntry {
  FARPROC address = nullptr;
  ResultKind kind = ResultKind::kWord;
};

BoundEntry bound[kEntryCount];
VendorEntryName names[kEntryCount];
std::string decorated[kEntryCount];
bool library_bound = false;

ResultKind KindOf(const std::string& result_code) {
  if (result_code == "_N") {
    return ResultKind::kBool;
  }
  if (result_code == "X") {
    return ResultKind::kNone;
  }
  return ResultKind::kWord;
}

std::uint32_t Result(std::size_t entry, std::uint32_t raw) {
  switch (bound[entry].kind) {
    case ResultKind::kBool:
      return raw & 0xFFU;  // a bool comes back in AL alone
    case ResultKind::kNone:
      return kEntries[entry].result_when_none;
    case ResultKind::kWord:
      break;
  }
  return raw;
}

template <typename Function>
Function Entry(std::size_t entry) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(bound[entry].address));
}

#ifdef _WIN32
// Finds an export whose name has the entry's qualified name, function class and
// parameters, whatever its result code; returns the result code found.
bool FindByShape(HMODULE library, const VendorEntry& entry, FARPROC* address,
                 std::string* result_code) {
  const auto* base = reinterpret_cast<const std::uint8_t*>(library);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.VirtualAddress == 0) {
    return false;
  }
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* name_rvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const std::size_t head = std::strlen(entry.head);
  const std::size_t tail = std::strlen(entry.tail);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const char* name = reinterpret_cast<const char*>(base + name_rvas[i]);
    const std::size_t length = std::strlen(name);
    if (length <= head + tail || std::strncmp(name, entry.head, head) != 0 ||
        std::strcmp(name + length - tail, entry.tail) != 0) {
      continue;
    }
    *result_code = std::string(name + head, length - head - tail);
    *address = GetProcAddress(library, name);
    return *address != nullptr;
  }
  return false;
}
#endif

bool BindEntry(HMODULE library, std::size_t index) {
  const VendorEntry& entry = kEntries[index];
#ifdef _WIN32
  FARPROC address = GetProcAddress(library, decorated[index].c_str());
  std::string result_code = entry.result;
  if (address == nullptr && entry.result_open &&
      !FindByShape(library, entry, &address, &result_code)) {
    return false;
  }
  bound[index] = {address, KindOf(result_code)};
#else
  FARPROC address = GetProcAddress(library, entry.plain);
  bound[index] = {address, KindOf(entry.result)};
#endif
  return address != nullptr;
}

void MakeNames() {
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    decorated[i] = std::string(kEntries[i].head) + kEntries[i].result + kEntries[i].tail;
    names[i] = {decorated[i].c_str(), kEntries[i].plain};
  }
}

// The qualified name of an entry as a person reads it, for the missing-entry message.
std::string Readable(const VendorEntry& entry) {
  std::string plain = entry.plain;
  const std::size_t split = plain.find('_');
  if (split == std::string::npos) {
    return plain;
  }
  std::string member = plain.substr(split + 1);
  if (member == "Construct") {
    member = plain.substr(0, split);
  } else if (member == "Destruct") {
    member = "~" + plain.substr(0, split);
  }
  return plain.substr(0, split) + "::" + member;
}

}  // namespace

bool BindVendorLibrary(std::string* missing) {
  if (library_bound) {
    return true;
  }
  MakeNames();
  HMODULE library = LoadLibraryA(kVendorLibrary);
  if (library == nullptr) {
    *missing = std::string("The card's access library ") + kVendorLibrary + " could not be loaded.";
    return false;
  }
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    if (!BindEntry(library, i)) {
      *missing = std::string("The card's access library ") + kVendorLibrary + " lacks " +
                 Readable(kEntries[i]) + ".";
      // Let go of it, so that the next open loads the library afresh (a whole
      // one may have been put in its place meanwhile).
      FreeLibrary(library);
      return false;
    }
  }
  library_bound = true;
  return true;
}

const VendorEntryName* VendorEntryNames(std::size_t* count) {
  MakeNames();
  *count = kEntryCount;
  return names;
}

std::uint32_t CDVBCommon::OpenDevice(std::uint16_t card, const char* name, std::int32_t flags) {
  using Function = std::uint32_t (*)(std::uint16_t, const char*, std::int32_t);
  return Result(kOpenDevice, Entry<Function>(kOpenDevice)(card, name, flags));
}

DVB_ERROR CDVBCommon::CloseDevice() {
  using Function = std::uint32_t (*)();
  return static_cast<DVB_ERROR>(Result(kCloseDevice, Entry<Function>(kCloseDevice)()));
}

DVB_ERROR InitDvbApiDll() {
  using Function = std::uint32_t (*)();
  return static_cast<DVB_ERROR>(Result(kInitDvbApiDll, Entry<Function>(kInitDvbApiDll)()));
}

namespace {

using Construct = void*(MV_THISCALL*)(void* self);
using Destruct = void(MV_THISCALL*)(void* self);

void* CreateObject(std::size_t size, std::size_t constructor) {
  void* memory = ::operator new(size, std::nothrow);
  if (memory != nullptr) {
    std::memset(memory, 0, size);
    Entry<Construct>(constructor)(memory);
  }
  return memory;
}

void DestroyObject(void* object, std::size_t destructor) {
  if (object != nullptr) {
    // The vendor's complete-object destructor, not its deleting one: the memory
    // is the module's and goes back to the module's own heap.
    Entry<Destruct>(destructor)(object);
    ::operator delete(object);
  }
}

}  // namespace

CDVBBoardControl* CDVBBoardControl::Create() {
  return static_cast<CDVBBoardControl*>(CreateObject(kObjectSize, kBoardConstruct));
}

void CDVBBoardControl::Destroy(CDVBBoardControl* object) { DestroyObject(object, kBoardDestruct); }

DVB_ERROR CDVBBoardControl::ResetInit() {
  using Function = std::uint32_t(MV_THISCALL*)(void*);
  return static_cast<DVB_ERROR>(Result(kResetInit, Entry<Function>(kResetInit)(this)));
}

DVB_ERROR CDVBBoardControl::EnableDataDMA(std::int32_t enable) {
  using Function = std::uint32_t(MV_THISCALL*)(void*, std::int32_t);
  return static_cast<DVB_ERROR>(
      Result(kEnableDataDma, Entry<Function>(kEnableDataDma)(this, enable)));
}

DVB_ERROR CDVBBoardControl::TSRecordOnOff(std::int32_t on) {
  using Function = std::uint32_t(MV_THISCALL*)(void*, std::int32_t);
  return static_cast<DVB_ERROR>(Result(kTsRecordOnOff, Entry<Function>(kTsRecordOnOff)(this, on)));
}

std::int32_t CDVBBoardControl::TSRecordRead(std::uint8_t* buffer, std::int32_t capacity) {
  using Function = std::int32_t(MV_THISCALL*)(void*, std::uint8_t*, std::int32_t);
  return Entry<Function>(kTsRecordRead)(this, buffer, capacity);
}

CDVBFrontend* CDVBFrontend::Create() {
  return static_cast<CDVBFrontend*>(CreateObject(kObjectSize, kFrontendConstruct));
}

void CDVBFrontend::Destroy(CDVBFrontend* object) { DestroyObject(object, kFrontendDestruct); }

DVB_ERROR CDVBFrontend::Init() {
  using Function = std::uint32_t(MV_THISCALL*)(void*);
  return static_cast<DVB_ERROR>(Result(kFrontendInit, Entry<Function>(kFrontendInit)(this)));
}

DVB_ERROR CDVBFrontend::SetChannel(_CHANNEL_TYPE channel, std::int32_t flags) {
  using Function = std::uint32_t(MV_THISCALL*)(void*, _CHANNEL_TYPE, std::int32_t);
  return static_cast<DVB_ERROR>(
      Result(kSetChannel, Entry<Function>(kSetChannel)(this, channel, flags)));
}

DVB_ERROR CDVBFrontend::GetState(std::int32_t& lock, _SIGNAL_TYPE* signal, void* lock_state) {
  using Function = std::uint32_t(MV_THISCALL*)(void*, std::int32_t*, _SIGNAL_TYPE*, void*);
  return static_cast<DVB_ERROR>(
      Result(kGetState, Entry<Function>(kGetState)(this, &lock, signal, lock_state)));
}

DVB_ERROR CDVBFrontend::SendDiSEqCMsg(std::uint8_t* message, std::uint8_t count,
                                      std::uint8_t burst) {
  using Function = std::uint32_t(MV_THISCALL*)(void*, std::uint8_t*, std::uint8_t, std::uint8_t);
  return static_cast<DVB_ERROR>(
      Result(kSendDiseqcMsg, Entry<Function>(kSendDiseqcMsg)(this, message, count, burst)));
}

std::uint32_t CDVBFrontend::FrontendFlags() const {
  std::uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const std::uint8_t*>(this) + kFlagsOffset, sizeof flags);
  return flags;
}
