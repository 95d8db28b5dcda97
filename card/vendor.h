// The card vendor's access library `ttlcdacc.dll`: its classes as the module
// uses them. The library is bound at the first DeviceOpen, never at load; the
// objects are allocated by the module and constructed in place by the
// library's own constructors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32.h"

// Vendor results: 0 is success, anything else a failure.
using DVB_ERROR = std::int32_t;
constexpr DVB_ERROR kDvbOk = 0;

constexpr const char* kVendorLibrary = "ttlcdacc.dll";

// Binds every vendor entry the module calls. Returns true when all were found;
// otherwise `missing` names the library or the entry that is not there, and the
// library is let go, so that the next call loads it afresh. Once bound, the
// library stays loaded for the life of the process.
bool BindVendorLibrary(std::string* missing);

class CDVBCommon {
 public:
  // A nonzero result means the card was opened.
  static std::uint32_t OpenDevice(std::uint16_t card, const char* name, std::int32_t flags);
  static DVB_ERROR CloseDevice();
};

DVB_ERROR InitDvbApiDll();

class CDVBBoardControl {
 public:
  static constexpr std::size_t kObjectSize = 4;

  // Allocates the object's memory and runs the vendor constructor in it;
  // nullptr when the memory cannot be had.
  static CDVBBoardControl* Create();
  // Runs the vendor destructor and releases the module's memory.
  static void Destroy(CDVBBoardControl* object);

  DVB_ERROR ResetInit();
  DVB_ERROR EnableDataDMA(std::int32_t enable);
  DVB_ERROR TSRecordOnOff(std::int32_t on);
  std::int32_t TSRecordRead(std::uint8_t* buffer, std::int32_t capacity);

  CDVBBoardControl() = delete;
};

class CDVBFrontend {
 public:
  static constexpr std::size_t kObjectSize = 232;
  static constexpr std::size_t kFlagsOffset = 64;

#pragma pack(push, 1)
  struct _CHANNEL_TYPE {  // NOLINT(readability-identifier-naming): the vendor's name
    std::uint32_t word[8];
  };
  struct _SIGNAL_TYPE {  // NOLINT(readability-identifier-naming): the vendor's name
    std::uint8_t bytes[24];
  };
#pragma pack(pop)
  static_assert(sizeof(_CHANNEL_TYPE) == 32, "vendor record layout");
  static_assert(sizeof(_SIGNAL_TYPE) == 24, "vendor record layout");

  static CDVBFrontend* Create();
  static void Destroy(CDVBFrontend* object);

  DVB_ERROR Init();
  DVB_ERROR SetChannel(_CHANNEL_TYPE channel, std::int32_t flags);
  DVB_ERROR GetState(std::int32_t& lock, _SIGNAL_TYPE* signal, void* lock_state);
  DVB_ERROR SendDiSEqCMsg(std::uint8_t* message, std::uint8_t count, std::uint8_t burst);

  // The word at byte 64 of the object, as the vendor's Init left it.
  std::uint32_t FrontendFlags() const;

  CDVBFrontend() = delete;
};

// The decorated (win32) and plain (native) export names of every bound entry,
// for tests and tools that check the binding against a library.
struct VendorEntryName {
  const char* decorated;
  const char* plain;
};
const VendorEntryName* VendorEntryNames(std::size_t* count);
